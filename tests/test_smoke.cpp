#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QtTest>

class SmokeTest : public QObject {
    Q_OBJECT
private slots:
    void mainWindowBuilds() {
        TestPlatform env;
        frmMain window(env.platform());
        QCOMPARE(window.windowTitle(), QStringLiteral("Bandwidth Monitor"));
    }
};

QTEST_MAIN(SmokeTest)
#include "test_smoke.moc"
