#pragma once

#include "monitor/TickSample.h"
#include "usage/CapForecast.h"
#include "usage/UsageSettings.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <functional>

class Notifier;
class UsageHistory;

// Watches the selected interface's traffic against the data cap and puts a
// desktop notification up when a warning percentage is reached. Each
// warning is given once per period; what was given is stored, so a restart
// does not repeat it. A warning counts as given only once the desktop took
// it; until then every tick tries again.
class CapWatcher {
public:
    using Today = std::function<QDate()>; // the user's local date

    CapWatcher(const UsageHistory *history, Notifier *notifier, Today today);

    const CapSettings &settings() const { return settings_; }
    // Stores what changed and checks the new cap at the next tick; another
    // size, unit, period or direction gives its own warnings, and coming
    // back to one gives none it gave already in its period.
    void setSettings(const CapSettings &settings);

    // Called for every tick; reads the history only while the cap is on.
    void sampled(const TickSample &sample);

    struct Status {
        enum Kind { Off, HistoryOff, NotRecorded, Waiting, Counting } kind = Off;
        CapForecast::State counted; // while Counting
    };
    Status status() const { return status_; }
    QString statusText(const QLocale &locale = QLocale()) const;

private:
    bool historyReadable() const;

    const UsageHistory *history_;
    Notifier *notifier_;
    Today today_;
    QByteArray interface_; // the one the last tick measured
    CapSettings settings_;
    std::vector<GivenWarnings> given_;
    Status status_;
};
