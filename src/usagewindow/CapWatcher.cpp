#include "usagewindow/CapWatcher.h"

#include "platform/Notifier.h"
#include "usage/CapForecast.h"
#include "usage/UsageHistory.h"

#include <algorithm>

CapWatcher::CapWatcher(const UsageHistory *history, Notifier *notifier, Today today)
    : history_(history), notifier_(notifier), today_(std::move(today)),
      settings_(UsageSettings::readCap()), given_(UsageSettings::readGiven(settings_)) {}

void CapWatcher::setSettings(const CapSettings &settings) {
    // The warnings given stay with the cap they were given for: with the cap
    // raised from 1 to 2 GB in mid-period, the 80 % given at 0.8 GB comes
    // again at 1.6 GB; set back to 1 GB, it does not come again.
    UsageSettings::writeCap(settings, settings_);
    settings_ = settings;
}

bool CapWatcher::historyReadable() const {
    // Switched off, what was kept stands still: nothing new would count.
    return history_ && history_->available() && history_->recording();
}

void CapWatcher::sampled(const TickSample &sample) {
    if (!settings_.enabled) {
        status_ = {};
        return;
    }
    if (!historyReadable()) {
        status_ = {Status::HistoryOff, {}};
        return;
    }
    if (sample.name.isEmpty()) {
        // A tick that read nothing leaves the last count standing.
        if (status_.kind != Status::Counting)
            status_ = {Status::Waiting, {}};
        return;
    }
    interface_ = sample.name;
    if (!history_->records(sample.name)) {
        status_ = {Status::NotRecorded, {}};
        return;
    }
    const QDate today = today_();
    const CapForecast::State state =
        CapForecast::read(*history_, sample.name, settings_, today, CapForecast::nowOn(today));
    const CapRules::Span span = state.span;
    status_ = {Status::Counting, state};

    // A new period starts with no warnings given.
    const GivenWarnings cap{span, state.cap, settings_.direction, {}};
    auto given = std::find_if(given_.begin(), given_.end(),
                              [&](const GivenWarnings &g) { return g.sameCap(cap); });
    const std::vector<int> crossed =
        CapRules::newlyCrossed(state.used, state.cap, settings_.warnings,
                               given == given_.end() ? cap.percentages : given->percentages);
    // Several warnings reached in one tick (a cap lowered below the use,
    // the first tick after a long pause) make one notification: the
    // highest, which says all the others. A cap used up is critical: it
    // must not slip by while the user is away.
    if (crossed.empty() || !notifier_ ||
        !notifier_->notify(CapForecast::warningTitle(QString::fromUtf8(interface_), crossed.back()),
                           CapForecast::warningText(state, settings_),
                           crossed.back() >= 100 ? Notifier::Urgency::Critical
                                                 : Notifier::Urgency::Normal))
        return;
    // Stored with the caps whose period has not ended: they are all that
    // can still warn.
    std::erase_if(given_, [&](const GivenWarnings &g) { return g.span.last < today; });
    given = std::find_if(given_.begin(), given_.end(),
                         [&](const GivenWarnings &g) { return g.sameCap(cap); });
    if (given == given_.end())
        given = given_.insert(given_.end(), cap);
    given->percentages.insert(given->percentages.end(), crossed.begin(), crossed.end());
    std::sort(given->percentages.begin(), given->percentages.end());
    UsageSettings::writeGiven(given_);
}

QString CapWatcher::statusText(const QLocale &locale) const {
    switch (status_.kind) {
    case Status::Off:
        return QStringLiteral("No data cap is set.");
    case Status::HistoryOff:
        return QStringLiteral("The usage history is off, so the data cap cannot count.");
    case Status::NotRecorded:
        return QStringLiteral("Usage of %1 is not recorded, so the data cap cannot count it.")
            .arg(QString::fromUtf8(interface_));
    case Status::Waiting:
        return QStringLiteral("Waiting for the first reading of the interface.");
    case Status::Counting:
        break;
    }
    return CapForecast::statusLine(status_.counted, settings_, locale);
}
