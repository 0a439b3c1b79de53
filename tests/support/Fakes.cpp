#include "support/Fakes.h"

// No path setting moves the registry key that is the store on Windows: tests
// run one at a time in a Wine prefix of their own, each with the key empty.
void TestPlatform::clearRegistryStore() {
#ifdef Q_OS_WIN
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(zarn::kOrganization),
              QString::fromUtf8(zarn::kProductName))
        .clear();
#endif
}
