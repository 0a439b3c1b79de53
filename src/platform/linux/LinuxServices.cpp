#include "adapters/InterfaceSource.h"
#include "platform/Autostart.h"
#include "platform/SystemServices.h"
#include "platform/linux/DBusNotifier.h"
#include "platform/linux/LinuxUsagePlatform.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "platform/linux/QuitOnSignals.h"
#include "platform/linux/TrayProtocol.h"
#include "platform/linux/XcbToolWindows.h"
#include "platform/linux/XdgAutostart.h"
#include "platform/qt/QtTrayHost.h"

#include <QGuiApplication>

HistoryServices historyServices() {
    HistoryServices services;
    services.interfaces = std::make_unique<NetlinkInterfaceSource>();
    services.usage = std::make_unique<LinuxUsagePlatform>();
    return services;
}

SystemServices systemServices() {
    SystemServices services;
    static_cast<HistoryServices &>(services) = historyServices();
    services.restingInterfaces = std::make_unique<NetlinkInterfaceSource>();
    services.tray = std::make_unique<QtTrayHost>(
        trayProtocolFor(QGuiApplication::platformName(), statusNotifierWatcherRegistered()));
    services.autostart = std::make_unique<XdgAutostart>();
    services.notifier =
        std::make_unique<DBusNotifier>(std::make_unique<TrayNotifier>(*services.tray));
    services.sessionEnd = std::make_unique<QuitOnSignals>();
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        services.toolWindows = std::make_unique<XcbToolWindows>();
    return services;
}
