#include "settings/Registry.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

// Every setting the program reads, holding every kind of value a hand edit,
// another program or a damaged disk could leave in it. Start-up must get
// through, fall back to sane values, tick, and write nothing: the stored
// bytes stay as they were until the user changes that very option.
namespace {

template <typename T> T *control(frmMain &window, const char *name) {
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

struct Setting {
    const char *name;
    const char *box; // the check box that holds it, or null
};

const Setting kSettings[] = {
    {"ShowTrayIcon", "chkShowTrayIcon"},
    {"AnimateTrayIcon", "chkAnimateTrayIcon"},
    {"ShowBandwidthInTray", "chkShowBandwidth"},
    {"MinimizeToTray", "chkMinimizeToTray"},
    {"Adapter", nullptr},
    {"StartupMinimized", "chkStartupMinimized"},
    {"UpdateFrequency", nullptr},
    {"YellowThreshold", nullptr},
    {"RedThreshold", nullptr},
    {"AutoAdjustThreshold", "chkAutoAdjustThreshold"},
};

// The state each box has when its setting cannot be used.
Qt::CheckState defaultState(const QByteArray &name) {
    return name == "StartupMinimized" ? Qt::Unchecked : Qt::Checked;
}

// The raw text after "Name=" in the file.
const std::pair<const char *, QByteArray> kValues[] = {
    {"empty", QByteArray()},
    {"letters", "abc"},
    {"huge", "99999999999999999999"},
    {"negative", "-7"},
    {"fraction", "1.5"},
    {"list", "1, 2"},
    {"binary", QByteArray("\x01\xc3\x28\xff\xfe\x00z\x7f", 8)},
    {"long text", QByteArray(40000, 'x') + QByteArray(40000, '9')},
    {"typed value", "@ByteArray(1)"},
    {"exponent", "1e400"},
};

QByteArray fileBytes(const TestPlatform &env) {
    QFile f(env.settingsFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QVariant rawValue(const TestPlatform &env, const QString &key) {
    return QSettings(env.settingsFilePath(), QSettings::IniFormat).value(key);
}

} // namespace

class BadInputTest : public QObject {
    Q_OBJECT
private slots:
    void malformedSetting_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("value");
        for (const Setting &s : kSettings)
            for (const auto &[label, value] : kValues)
                QTest::addRow("%s %s", s.name, label) << QByteArray(s.name) << value;
    }

    void malformedSetting() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        const QString key = QString::fromLatin1(name);
        const bool isAdapter = name == "Adapter";

        TestPlatform env;
        env.interfaces.add(1, QStringLiteral("lo"), 24);
        InterfaceRow &eth = env.interfaces.add(2, QStringLiteral("eth0"));
        eth.inOctets = 5000;
        eth.outOctets = 7000;
        // Beside the bad value, a good adapter (so that the ticks measure)
        // and a line of no meaning to the program: neither may change.
        QByteArray file = "[General]\n";
        if (!isAdapter)
            file += "Adapter=\" 2\"\nAdapterName=eth0\n";
        file += name + '=' + value + "\nUnrelated=keep me\n";
        env.writeSettingsFile(file);
        const QVariant adapterBefore = rawValue(env, QStringLiteral("Adapter"));

        frmMain window(env.platform());
        window.startUp();
        for (int i = 0; i < 5; ++i)
            window.tmrAdapterUpdate_Timer();

        // Start-up ran to its end and the program uses sane values.
        QCOMPARE(control<QLabel>(window, "lblVersion")->text(),
                 QStringLiteral("Zarn Bandwidth Version 1.20"));
        QVERIFY(env.messages.shown.empty());
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        for (const Setting &s : kSettings)
            if (s.box)
                QCOMPARE(control<QCheckBox>(window, s.box)->checkState(), defaultState(s.name));
        QVERIFY(window.showTrayIcon && window.animateTrayIcon && window.showBandwidthInTray);
        QVERIFY(env.tray.shown);
        const bool fraction = name == "UpdateFrequency" && value == "1.5";
        QCOMPARE(window.tmrAdapterUpdate->interval(), fraction ? 2 : 300);
        QCOMPARE(control<QLineEdit>(window, "txtFrequency")->text(),
                 fraction ? QStringLiteral("1.5") : QStringLiteral("300"));
        if (isAdapter) {
            QCOMPARE(control<QComboBox>(window, "cmdAdapters")->currentIndex(), -1);
            QCOMPARE(control<QTabWidget>(window, "Tabs")->currentIndex(), 2);
        } else {
            QCOMPARE(window.selectedAdapter, 2);
            QCOMPARE(control<QLabel>(window, "lblAdapterName")->text(), QStringLiteral("eth0"));
            QCOMPARE(control<QLabel>(window, "lblRecvBytes")->text(), QStringLiteral("5,000"));
        }
        // No traffic: whatever the thresholds hold, the picture stays idle.
        QVERIFY(window.trayIcon.trayRecord().picture == TrayPicture::idle());

        // Nothing was written: the file is byte for byte what it was.
        QCOMPARE(fileBytes(env), file);

        // Once the user changes the option, the new value is stored and the
        // other values still read as they did.
        QString expected;
        if (const char *box = [&]() -> const char * {
                for (const Setting &s : kSettings)
                    if (s.name == name)
                        return s.box;
                return nullptr;
            }()) {
            QCheckBox *check = control<QCheckBox>(window, box);
            const bool ticked = check->checkState() == Qt::Checked;
            check->setCheckState(ticked ? Qt::Unchecked : Qt::Checked);
            expected = ticked ? QStringLiteral("0") : QStringLiteral("1");
        } else if (isAdapter) {
            control<QComboBox>(window, "cmdAdapters")->setCurrentIndex(1);
            expected = QStringLiteral(" 2");
            QCOMPARE(window.selectedAdapter, 2);
        } else if (name == "UpdateFrequency") {
            control<QLineEdit>(window, "txtFrequency")->setText(QStringLiteral("500"));
            window.cmdUpdateFrequency_Click();
            expected = QStringLiteral("500");
            QCOMPARE(window.tmrAdapterUpdate->interval(), 500);
        } else {
            QLineEdit *box = control<QLineEdit>(
                window, name == "YellowThreshold" ? "txtYellowThreshold" : "txtRedThreshold");
            box->setEnabled(true);
            box->setText(QStringLiteral("12.5"));
            expected = QStringLiteral("12.5");
        }
        QCOMPARE(rawValue(env, key), QVariant(expected));
        QCOMPARE(Registry::readSetting(key, QString()), expected);
        QCOMPARE(rawValue(env, QStringLiteral("Unrelated")), QVariant(QStringLiteral("keep me")));
        if (!isAdapter)
            QCOMPARE(rawValue(env, QStringLiteral("Adapter")), adapterBefore);
    }
};

QTEST_MAIN(BadInputTest)
#include "test_bad_input.moc"
