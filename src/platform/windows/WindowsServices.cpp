#include "app/SystemServices.h"
#include "platform/qt/QtTrayHost.h"
#include "platform/windows/IpHelperInterfaceSource.h"
#include "platform/windows/RegistryAutostart.h"

SystemServices systemServices() {
    SystemServices services;
    services.interfaces = std::make_unique<IpHelperInterfaceSource>();
    services.tray = std::make_unique<QtTrayHost>(TrayProtocol::WindowsNotifyIcon);
    services.autostart = std::make_unique<RegistryAutostart>();
    return services;
}
