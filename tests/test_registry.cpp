#include "settings/Registry.h"
#include "support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

const QString kDefault = QStringLiteral("<default>");

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class RegistryTest : public QObject {
    Q_OBJECT
private slots:
    void absentReadsDefaultAndCreatesNothing() {
        TestPlatform env;
        QCOMPARE(Registry::readSetting(QStringLiteral("MinimizeToTray"), QStringLiteral("1")),
                 QStringLiteral("1"));
        QCOMPARE(Registry::readSetting(QStringLiteral("YellowThreshold"), QString()), QString());
        QVERIFY(!env.settingsFileExists());
        QVERIFY(!QFileInfo::exists(QFileInfo(env.settingsFilePath()).path()));
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("flag") << "1";
        QTest::newRow("empty is not the default") << "";
        QTest::newRow("blanks kept") << " 250 ";
        QTest::newRow("comma and blank") << "a, b";
        QTest::newRow("leading at") << "@ByteArray(x)";
        QTest::newRow("newline") << "two\nlines";
        QTest::newRow("backslash") << "C:\\Tools\\";
        QTest::newRow("non-ASCII") << QStringLiteral("Grüße €");
    }
    void roundTrip() {
        QFETCH(QString, text);
        TestPlatform env;
        Registry::writeSetting(QStringLiteral("Value"), text);
        QVERIFY(env.settingsFileExists());
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault), text);
    }

    void writeReachesDiskAtOnce() {
        TestPlatform env;
        Registry::writeSetting(QStringLiteral("MinimizeToTray"), QStringLiteral("1"));
        // The file on disk holds the value before anything else runs.
        QVERIFY(fileBytes(env.settingsFilePath()).contains("MinimizeToTray=1"));
        QCOMPARE(Registry::readSetting(QStringLiteral("MinimizeToTray"), QStringLiteral("0")),
                 QStringLiteral("1"));
        Registry::writeSetting(QStringLiteral("MinimizeToTray"), QStringLiteral("0"));
        QVERIFY(fileBytes(env.settingsFilePath()).contains("MinimizeToTray=0"));
    }

    // Lines as a user or another program might leave them in the file.
    void handEdited_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QByteArray("[General]\nValue=1\n") << "1";
        QTest::newRow("stored empty") << QByteArray("[General]\nValue=\n") << "";
        QTest::newRow("quoted list text") << QByteArray("[General]\nValue=\"a, b\"\n") << "a, b";
        QTest::newRow("list") << QByteArray("[General]\nValue=a, b\n") << kDefault;
        QTest::newRow("byte array") << QByteArray("[General]\nValue=@ByteArray(abc)\n") << kDefault;
        QTest::newRow("invalid") << QByteArray("[General]\nValue=@Invalid()\n") << kDefault;
        QTest::newRow("group, not a value") << QByteArray("[Value]\nInner=1\n") << kDefault;
        QTest::newRow("NUL inside") << QByteArray("[General]\nValue=ab\\0cd\n") << "ab";
        QTest::newRow("NUL first") << QByteArray("[General]\nValue=\\0cd\n") << "";
        QTest::newRow("only another key") << QByteArray("[General]\nvalue=1\n") << kDefault;
    }
    void handEdited() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        TestPlatform env;
        env.writeSettingsFile(content);
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault), expected);
        QCOMPARE(fileBytes(env.settingsFilePath()), content); // reads never write
    }

    void writtenNulCutsText() {
        TestPlatform env;
        Registry::writeSetting(QStringLiteral("Value"),
                               QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault), QStringLiteral("ab"));
    }

    void writeReplacesOtherKind() {
        TestPlatform env;
        env.writeSettingsFile("[General]\nValue=a, b\nKeep=x\n");
        Registry::writeSetting(QStringLiteral("Value"), QStringLiteral("1"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault), QStringLiteral("1"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Keep"), kDefault), QStringLiteral("x"));
    }

    void unwritableStoreIsSilent() {
        TestPlatform env;
        // A plain file where the store's folder should be: no write can
        // succeed, whoever runs the test.
        QFile blocker(QFileInfo(env.settingsFilePath()).path());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Registry::writeSetting(QStringLiteral("Value"), QStringLiteral("1"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault), kDefault);
    }
};

QTEST_GUILESS_MAIN(RegistryTest)
#include "test_registry.moc"
