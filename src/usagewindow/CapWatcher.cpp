#include "usagewindow/CapWatcher.h"

#include "platform/Notifier.h"
#include "usage/UsageHistory.h"
#include "usagewindow/CapForecast.h"

#include <algorithm>

namespace {

QString countedWords(CapRules::Direction direction) {
    switch (direction) {
    case CapRules::Direction::Received:
        return QStringLiteral("received");
    case CapRules::Direction::Sent:
        return QStringLiteral("sent");
    case CapRules::Direction::Both:
        break;
    }
    return QStringLiteral("received and sent");
}

QString spanWords(const CapRules::Span &span, const QLocale &locale) {
    if (span.first == span.last)
        return QStringLiteral("on ") + locale.toString(span.first, QLocale::ShortFormat);
    return QStringLiteral("from %1 to %2")
        .arg(locale.toString(span.first, QLocale::ShortFormat),
             locale.toString(span.last, QLocale::ShortFormat));
}

int percentOf(quint64 used, quint64 cap) {
    if (cap == 0)
        return 0;
    const long double percent = static_cast<long double>(used) * 100 / cap;
    return static_cast<int>(std::min<long double>(percent, 1e6L));
}

} // namespace

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
        status_ = {Status::HistoryOff, {}, 0, 0};
        return;
    }
    if (sample.name.isEmpty()) {
        // A tick that read nothing leaves the last count standing.
        if (status_.kind != Status::Counting)
            status_ = {Status::Waiting, {}, 0, 0};
        return;
    }
    interface_ = sample.name;
    if (!history_->records(sample.name)) {
        status_ = {Status::NotRecorded, {}, 0, 0};
        return;
    }
    const QDate today = today_();
    const CapForecast::State state =
        CapForecast::read(*history_, sample.name, settings_, today, CapForecast::nowOn(today));
    const CapRules::Span span = state.span;
    status_ = {Status::Counting, span, state.used, state.cap, state.runsOut};

    // A new period starts with no warnings given.
    const GivenWarnings cap{span, status_.cap, settings_.direction, {}};
    auto given = std::find_if(given_.begin(), given_.end(),
                              [&](const GivenWarnings &g) { return g.sameCap(cap); });
    const std::vector<int> crossed =
        CapRules::newlyCrossed(status_.used, status_.cap, settings_.warnings,
                               given == given_.end() ? cap.percentages : given->percentages);
    // Several warnings reached in one tick (a cap lowered below the use,
    // the first tick after a long pause) make one notification: the
    // highest, which says all the others. A cap used up is critical: it
    // must not slip by while the user is away.
    if (crossed.empty() || !notifier_ ||
        !notifier_->notify(capWarningTitle(QString::fromUtf8(interface_), crossed.back()),
                           capWarningText(status_, settings_),
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
    return capStatusLine(status_, settings_, locale);
}

QString capWarningTitle(const QString &interfaceName, int percent, const QLocale &locale) {
    return QStringLiteral("%1: %2 % of the data cap used")
        .arg(interfaceName, locale.toString(percent));
}

QString capWarningText(const CapWatcher::Status &status, const CapSettings &settings,
                       const QLocale &locale) {
    return QStringLiteral("%1 of %2 (%3 %) %4 %5.")
        .arg(CapRules::amountText(status.used, settings.unit, locale),
             CapRules::amountText(status.cap, settings.unit, locale),
             locale.toString(percentOf(status.used, status.cap)), countedWords(settings.direction),
             spanWords(status.span, locale));
}

QString capStatusLine(const CapWatcher::Status &status, const CapSettings &settings,
                      const QLocale &locale) {
    const QString pace = CapForecast::runsOutText(status.runsOut, locale);
    return capWarningText(status, settings, locale) + (pace.isEmpty() ? QString() : u' ' + pace);
}
