#include "app/SystemServices.h"
#include "platform/qt/QtTrayHost.h"
#include "platform/windows/IpHelperInterfaceSource.h"
#include "platform/windows/RegistryAutostart.h"

SystemServices systemServices() {
    SystemServices services;
    services.interfaces = std::make_unique<IpHelperInterfaceSource>();
    // The taskbar's notification area sends the icon every click and
    // double-click, and Qt passes both on.
    services.tray = std::make_unique<QtTrayHost>(true);
    services.autostart = std::make_unique<RegistryAutostart>();
    return services;
}
