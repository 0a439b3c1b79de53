#pragma once

#include <QString>

class InterfaceSource;
class TrayHost;
class Autostart;
class MessageBoxes;
class MonotonicClock;

// Everything the main window needs from the system it runs on. main() fills
// it with the real services; tests fill it with fakes. The window does not
// own these objects.
struct Platform {
    InterfaceSource *interfaces = nullptr;
    TrayHost *tray = nullptr;
    Autostart *autostart = nullptr;
    MessageBoxes *messages = nullptr;
    // Null: every tick is taken to last exactly one timer interval.
    MonotonicClock *clock = nullptr;
    QString programPath;  // absolute path of the running executable
    QString argumentText; // the command line after the program's own name
    // A second source, read only from the resting ticker's thread; null:
    // the timer ticks on the GUI thread all the time.
    InterfaceSource *restingInterfaces = nullptr;
};
