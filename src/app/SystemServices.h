#pragma once

#include <memory>

class Autostart;
class InterfaceSource;
class TrayHost;

// The real services of the system the program was built for. Each platform
// folder (platform/linux, platform/windows) defines systemServices(); CMake
// compiles exactly one of them. Made after QApplication, since the tray
// host asks the desktop what it supports.
struct SystemServices {
    std::unique_ptr<InterfaceSource> interfaces;
    std::unique_ptr<TrayHost> tray;
    std::unique_ptr<Autostart> autostart;
};

SystemServices systemServices();
