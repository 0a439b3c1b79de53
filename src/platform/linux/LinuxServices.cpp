#include "adapters/InterfaceSource.h"
#include "app/Autostart.h"
#include "app/SystemServices.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "platform/linux/TrayProtocol.h"
#include "platform/linux/XdgAutostart.h"
#include "platform/qt/QtTrayHost.h"

#include <QGuiApplication>

SystemServices systemServices() {
    SystemServices services;
    services.interfaces = std::make_unique<NetlinkInterfaceSource>();
    services.tray = std::make_unique<QtTrayHost>(
        trayProtocolFor(QGuiApplication::platformName(), statusNotifierWatcherRegistered()));
    services.autostart = std::make_unique<XdgAutostart>();
    return services;
}
