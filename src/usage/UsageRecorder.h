#pragma once

#include "monitor/TickSample.h"
#include "usage/Ledger.h"
#include "usage/UsageHistory.h"
#include "usage/UsageStore.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimeZone>
#include <QTimer>
#include <map>
#include <memory>

class InterfaceSource;
class UsagePlatform;
struct InterfaceRow;

// Keeps the usage history: gathers what a save needs and saves at a fixed
// period, at first sight of an interface, when one goes away (with the last
// counters the system gives, else the selected one's last tick), when what
// is recorded changes, and at exit, also when the display goes first. What
// each save counts is Ledger::settle's to decide (docs/usage-history.md).
// Answers readers from the store plus what the latest tick measured on the
// selected interface (a reader that does not record: plus what the kernel
// counted since the save).
//
// A store busy with another program is tried again; any other failure
// turns history off for the rest of the run, said once on standard error;
// monitoring is not affected.
class UsageRecorder final : public QObject, public UsageHistory {
    Q_OBJECT

public:
    struct Options {
        bool record = true;     // "KeepHistory"
        QSet<QByteArray> named; // "HistoryInterfaces"
        bool reader = false;    // only reads the store, never writes it (the report)
        int savePeriodMs = kSavePeriodMs;
        int retryMs = 30000; // after a save found the store busy
        int busyMs = 2000;   // how long a save waits for another program's lock
        QTimeZone zone = QTimeZone::systemTimeZone();
    };
    // Five minutes: at most five minutes of counts are lost to a power cut,
    // and a save touches a handful of small pages (see BENCHMARKS.md).
    static constexpr int kSavePeriodMs = 300000;

    // The two settings, read once.
    static Options optionsFromSettings();
    // Where the store lives.
    static QString storePath(UsagePlatform &platform);

    UsageRecorder(InterfaceSource &interfaces, UsagePlatform &platform, Options options,
                  QObject *parent = nullptr);
    ~UsageRecorder() override;

    // Opens the store and saves at once: what the kernel counted while the
    // program was not running goes into the history now.
    void start();
    // For Monitor::sampled.
    void sampled(const TickSample &sample);
    // Saves every counted interface now; false when history is off, the
    // store busy (tried again soon) or failed.
    bool saveNow();
    // Why history is off; empty while it is on.
    QString error() const { return error_; }
    // The store while history is on (or readable); null otherwise.
    UsageStore *store() const { return store_.get(); }

    bool available() const override;
    bool recording() const override { return options_.record; }
    bool records(const QByteArray &interfaceName) const override;
    QSet<QByteArray> namedInterfaces() const override { return options_.named; }
    // Stores both settings and takes effect at once: a newly named interface
    // counts from the next save, which comes soon; switched on, the store
    // opens for recording; switched off, what was counted is saved and
    // nothing more.
    void setRecording(bool keep, const QSet<QByteArray> &named) override;
    std::vector<UsageTotal> days(const QByteArray &interfaceName, QDate first,
                                 QDate last) const override;
    std::vector<UsageTotal> months(const QByteArray &interfaceName, QDate first,
                                   QDate last) const override;
    std::vector<UsageTotal> hours(const QByteArray &interfaceName, int count) const override;
    std::vector<UsageTotal> topDays(const QByteArray &interfaceName, int count) const override;
    // The local day of name's first record: the first period kept, or today
    // (what is counted now) when none is.
    QDate firstDay(const QByteArray &name) const override;

private:
    struct Sample {
        qint32 index = 0;
        quint64 received = 0;
        quint64 sent = 0;
        qint64 bootMs = 0;
    };
    Ledger::Input readInput();
    Ledger::Counter sampleCounter(const Sample &sample) const;
    void linkChanged(const InterfaceRow &row, bool gone);
    UsageRules::LinkKind kindOf(const InterfaceRow &row);
    bool counted(const InterfaceRow &row, const QSet<QByteArray> &named);
    // The counters of the link name's saved counter belongs to, read now;
    // none when that link is not there in this boot.
    std::optional<Ledger::Counter> systemCounter(const QByteArray &name) const;
    // The rows of name that start in [from, to) (UTC seconds), with what
    // was counted since the last save.
    std::vector<UsageRules::Period> periods(const QByteArray &name, qint64 from, qint64 to) const;
    void turnOff(const QString &why) const;
    void saveSoon();
    void busy();

    InterfaceSource &interfaces_;
    UsagePlatform &platform_;
    Options options_;
    mutable std::unique_ptr<UsageStore> store_;
    mutable QString error_;
    QTimer timer_;
    QTimer retry_; // a save after the store was busy
    bool saveQueued_ = false;
    // What happened to recorded links since the last save, for the next one.
    std::vector<Ledger::Event> events_;
    // History was switched off: the next save counts the links' last
    // counters and keeps none.
    bool pausing_ = false;
    qint64 busySince_ = -1; // when saves began to find the store busy (ms since boot)
    bool busyTold_ = false;
    QSet<QByteArray> known_;               // names the store holds
    QSet<QByteArray> sighted_;             // names the tick has shown
    std::map<QByteArray, Sample> samples_; // the tick's last totals per name
    QByteArray selected_;                  // the name the tick last measured
    qint32 selectedIndex_ = 0;
    // What kind of link each index the system has shown is.
    std::map<qint32, UsageRules::LinkKind> kinds_;
    bool noteSelected_ = false;
    mutable QHash<QByteArray, UsageRules::LinkKind> kindsByName_; // for records()
    // Each name's first day once the store holds one: merging periods into
    // longer ones keeps their local day, so it never moves.
    mutable QHash<QByteArray, QDate> firstDays_;
};
