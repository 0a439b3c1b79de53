#pragma once

#include <memory>

class Autostart;
class InterfaceSource;
class Notifier;
class QObject;
class TrayHost;
class UsagePlatform;

// What the usage history needs of the system: enough for the usage report,
// which runs on a console before any QApplication exists.
struct HistoryServices {
    std::unique_ptr<InterfaceSource> interfaces;
    std::unique_ptr<UsagePlatform> usage;
};

// The real services of the system the program was built for. Each platform
// folder (platform/linux, platform/windows) defines both functions; CMake
// compiles exactly one of them. systemServices() is called after
// QApplication, since the tray host asks the desktop what it supports.
struct SystemServices : HistoryServices {
    // Another source of the same interfaces, for the resting ticker's thread.
    std::unique_ptr<InterfaceSource> restingInterfaces;
    std::unique_ptr<TrayHost> tray;
    std::unique_ptr<Autostart> autostart;
    // Desktop notifications (the data cap's warnings); may use the tray.
    std::unique_ptr<Notifier> notifier;
    // Ends the event loop normally when the session ends the program, so
    // the last save still runs; null where Qt already does so.
    std::unique_ptr<QObject> sessionEnd;
    // Keeps tool windows off the taskbar where Qt's tool window type alone
    // does not; null where it does (Windows, and Wayland, which has no such
    // hint at all).
    std::unique_ptr<QObject> toolWindows;
};

HistoryServices historyServices();
SystemServices systemServices();
