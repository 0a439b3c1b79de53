#pragma once

// Fakes at the platform edge, and a fixture over a fresh temporary folder.

#include "Version.h"
#include "adapters/InterfaceSource.h"
#include "monitor/MonotonicClock.h"
#include "platform/Autostart.h"
#include "platform/MessageBoxes.h"
#include "platform/Platform.h"
#include "tray/TrayHost.h"
#include "usage/UsagePlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>

// A file's whole content (empty when it cannot be read), and writing it whole.
inline QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

class FakeInterfaceSource final : public InterfaceSource {
public:
    TableResult tableResult = TableResult::Ok;
    std::vector<InterfaceRow> rows; // the interface table, in the system's order
    std::vector<AddressRow> addresses;
    int rowQueries = 0, tableQueries = 0;

    // The row with this index, for a test to change its counters.
    InterfaceRow *find(qint32 index) {
        const auto it =
            std::find_if(rows.begin(), rows.end(), [&](auto &r) { return r.index == index; });
        return it == rows.end() ? nullptr : &*it;
    }
    InterfaceRow &add(qint32 index, const QString &description, quint32 type = 6,
                      quint64 speed = 100000000) {
        return rows.emplace_back(
            InterfaceRow{index, type, speed, 0, 0, 64, description, description.toUtf8()});
    }
    TableResult interfaceTable(std::vector<InterfaceRow> &out) override {
        ++tableQueries;
        out = tableResult == TableResult::Ok ? rows : std::vector<InterfaceRow>();
        return tableResult;
    }
    bool interfaceRow(qint32 index, InterfaceRow &row, Detail) override {
        ++rowQueries;
        const InterfaceRow *r = find(index);
        row = r ? *r : InterfaceRow();
        row.index = index;
        return r != nullptr;
    }
    // Sorted by address, as the system hands it over.
    bool addressTable(std::vector<AddressRow> &out) override {
        out = addresses;
        std::sort(out.begin(), out.end(), [](auto &a, auto &b) { return a.address < b.address; });
        return true;
    }

    // What the window asked to be told; announce() tells it, as the system would.
    std::function<void()> onChanged;
    bool watch(std::function<void()> f) override {
        onChanged = std::move(f);
        return true;
    }
    void announce() {
        if (onChanged)
            onChanged();
    }
    // Takes the link away, telling its last counters as the system would.
    LinkWatcher onLink;
    bool watchLinks(LinkWatcher f) override {
        onLink = std::move(f);
        return true;
    }
    void remove(qint32 index) {
        if (onLink && find(index))
            onLink(*find(index), true);
        std::erase_if(rows, [&](auto &r) { return r.index == index; });
    }
};

class FakeTrayHost final : public TrayHost {
public:
    struct Request {
        enum Kind { Show, Update, Remove } kind;
        QString tip;
        qint64 iconKey = 0;
    };
    std::vector<Request> requests;
    bool shown = false, doubleClicks = true;
    bool available = true; // a tray on the desktop shows the icon
    bool onDemand = false; // takes the tip only to show it, as an XEmbed icon does
    QMenu *menu = nullptr;
    QString tip;
    QIcon icon; // the picture last shown or updated

    void show(const QIcon &i, const TrayTip &t) override {
        record(Request::Show, i, t.text(), true);
    }
    void update(const QIcon &i, const TrayTip &t) override {
        record(Request::Update, i, t.text(), shown);
    }
    void remove() override { record(Request::Remove, icon, tip, false); }
    bool isShown() const override { return shown; }
    bool isAvailable() const override { return available; }
    bool reportsDoubleClick() const override { return doubleClicks; }
    bool tipsOnDemand() const override { return onDemand; }
    void setContextMenu(QMenu *m) override { menu = m; }
    QStringList messages; // "title: text", one a notification
    bool showMessage(const QString &title, const QString &text) override {
        if (available)
            messages << title + QStringLiteral(": ") + text;
        return available;
    }

    void activate(TrayActivation reason) {
        if (onActivated)
            onActivated(reason);
    }

private:
    void record(Request::Kind kind, const QIcon &i, const QString &t, bool nowShown) {
        requests.push_back({kind, kind == Request::Remove ? QString() : t,
                            kind == Request::Remove ? 0 : i.cacheKey()});
        icon = i;
        tip = t;
        shown = nowShown;
    }
};

class FakeAutostart final : public Autostart {
public:
    bool present = false;
    QStringList calls; // "enable <path>", "disable"
    bool exists() const override { return present; }
    void enable(const QString &programPath) override {
        calls << QStringLiteral("enable ") + programPath;
        present = true;
    }
    void disable() override {
        calls << QStringLiteral("disable");
        present = false;
    }
};

class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString text, title;
        Icon icon;
    };
    std::vector<Shown> shown;
    void show(QWidget *, const QString &text, const QString &title, Icon icon) override {
        shown.push_back({text, title, icon});
    }
};

// The usage history's system: a boot and two clocks the test sets.
class FakeUsagePlatform final : public UsagePlatform {
public:
    QByteArray boot = "boot-1";
    qint64 sinceBootMs = 3600000;
    qint64 utc = 1796634000; // 2026-12-07 10:20 UTC
    QString folder;

    void advance(qint64 seconds) {
        sinceBootMs += seconds * 1000;
        utc += seconds;
    }
    QByteArray bootId() override { return boot; }
    qint64 bootMs() override { return sinceBootMs; }
    qint64 utcNow() override { return utc; }
    UsageRules::LinkKind linkKind(const QByteArray &name, quint32) override {
        return name.startsWith("veth") ? UsageRules::LinkKind::Veth : UsageRules::LinkKind::Counted;
    }
    QString dataFolder() override { return folder; }
};

// A clock that moves only when a test moves it.
class FakeClock final : public MonotonicClock {
public:
    qint64 now = 0; // nanoseconds
    qint64 nowNs() const override { return now; }
    void advanceMs(double ms) { now += qint64(ms * 1e6); }
};

// A whole fake platform; XDG_CONFIG_HOME and QSettings' user path point into a
// fresh temporary folder while it lives, never at the user's real settings.
class TestPlatform {
public:
    TestPlatform() {
        qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
        clearRegistryStore();
    }
    ~TestPlatform() {
        clearRegistryStore();
        hadXdg_ ? qputenv("XDG_CONFIG_HOME", oldXdg_) : qunsetenv("XDG_CONFIG_HOME");
    }

    FakeInterfaceSource interfaces;
    FakeTrayHost tray;
    FakeAutostart autostart;
    FakeMessageBoxes messages;
    Platform platform(const QString &argumentText = QString()) {
        const QString program = QStringLiteral("/opt/zarn/bin/zarn-bandwidth");
        return {&interfaces, &tray, &autostart, &messages, nullptr, program, argumentText};
    }

    QString configDir() const { return dir_.path(); } // the temporary XDG_CONFIG_HOME
    QString settingsFilePath() const {                // where the settings store writes
        return dir_.path() + u'/' + zarn::kOrganization + u'/' + zarn::kProductName + ".conf";
    }
    // Writes raw lines into the settings file, as a user editing it would.
    void writeSettingsFile(const QByteArray &content) {
        QDir().mkpath(QFileInfo(settingsFilePath()).path());
        writeFile(settingsFilePath(), content);
    }

private:
    static void clearRegistryStore(); // Windows: the store is a registry key
    QTemporaryDir dir_;
    const bool hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray oldXdg_ = qgetenv("XDG_CONFIG_HOME");
};
