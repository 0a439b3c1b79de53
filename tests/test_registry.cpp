#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

const QString kDefault = QStringLiteral("<default>");

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
        columns<QString>({"text"});
        row("flag", "1");
        row("empty is not the default", "");
        row("blanks kept", " 250 ");
        row("comma and blank", "a, b");
        row("leading at", "@ByteArray(x)");
        row("newline", "two\nlines");
        row("backslash", "C:\\Tools\\");
        row("non-ASCII", QStringLiteral("Grüße €"));
        row("cut at NUL", QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"));
    }
    void roundTrip() {
        QFETCH(QString, text);
        TestPlatform env;
        Registry::writeSetting(QStringLiteral("Value"), text);
        QVERIFY(env.settingsFileExists());
        // Text holding a NUL reads as the text before it.
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault),
                 text.left(text.indexOf(QChar(u'\0'))));
    }

    void writeReachesDiskAtOnce() {
        TestPlatform env;
        Registry::writeSetting(QStringLiteral("MinimizeToTray"), QStringLiteral("1"));
        // The file on disk holds the value before anything else runs.
        QVERIFY(fileBytes(env.settingsFilePath()).contains("MinimizeToTray=1"));
        Registry::writeSetting(QStringLiteral("MinimizeToTray"), QStringLiteral("0"));
        QVERIFY(fileBytes(env.settingsFilePath()).contains("MinimizeToTray=0"));
    }

    // Lines as a user or another program might leave them in the file.
    void handEdited_data() {
        columns<QByteArray, QString>({"content", "expected"});
        row("plain", QByteArray("[General]\nValue=1\n"), "1");
        row("stored empty", QByteArray("[General]\nValue=\n"), "");
        row("quoted list text", QByteArray("[General]\nValue=\"a, b\"\n"), "a, b");
        row("list", QByteArray("[General]\nValue=a, b\n"), kDefault);
        row("byte array", QByteArray("[General]\nValue=@ByteArray(abc)\n"), kDefault);
        row("invalid", QByteArray("[General]\nValue=@Invalid()\n"), kDefault);
        row("group, not a value", QByteArray("[Value]\nInner=1\n"), kDefault);
        row("NUL inside", QByteArray("[General]\nValue=ab\\0cd\n"), "ab");
        row("NUL first", QByteArray("[General]\nValue=\\0cd\n"), "");
        row("only another key", QByteArray("[General]\nvalue=1\n"), kDefault);
    }
    void handEdited() {
        QFETCH(QByteArray, content);
        TestPlatform env;
        env.writeSettingsFile(content);
        QTEST(Registry::readSetting(QStringLiteral("Value"), kDefault), "expected");
        QCOMPARE(fileBytes(env.settingsFilePath()), content); // reads never write
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
