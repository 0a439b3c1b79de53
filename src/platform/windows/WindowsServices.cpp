#include "platform/Autostart.h"
#include "platform/Notifier.h"
#include "platform/SystemServices.h"
#include "platform/qt/QtTrayHost.h"
#include "platform/windows/IpHelperInterfaceSource.h"
#include "platform/windows/RegistryAutostart.h"
#include "platform/windows/WindowsUsagePlatform.h"

#include <QObject>

HistoryServices historyServices() {
    HistoryServices services;
    services.interfaces = std::make_unique<IpHelperInterfaceSource>();
    services.usage = std::make_unique<WindowsUsagePlatform>();
    return services;
}

SystemServices systemServices() {
    SystemServices services;
    static_cast<HistoryServices &>(services) = historyServices();
    services.restingInterfaces = std::make_unique<IpHelperInterfaceSource>();
    services.tray = std::make_unique<QtTrayHost>(TrayProtocol::WindowsNotifyIcon);
    services.autostart = std::make_unique<RegistryAutostart>();
    // No notification server: the balloon of the notification-area icon,
    // which comes up for it while the icon is hidden.
    services.notifier = std::make_unique<TrayNotifier>(*services.tray);
    // Qt quits the event loop itself when Windows ends the session.
    return services;
}
