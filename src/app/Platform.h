#pragma once

#include <QString>

class InterfaceSource;
class TrayHost;
class Autostart;
class MessageBoxes;

// Everything the main window needs from the system it runs on. main() fills
// it with the real services; tests fill it with fakes. The window does not
// own these objects.
struct Platform {
    InterfaceSource *interfaces = nullptr;
    TrayHost *tray = nullptr;
    Autostart *autostart = nullptr;
    MessageBoxes *messages = nullptr;
    QString programPath;  // absolute path of the running executable
    QString argumentText; // the command line after the program's own name
};
