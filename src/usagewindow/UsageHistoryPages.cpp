// The Days, Hours, Months, Years and Busiest days pages of the Usage window:
// bars above a table, or a table alone, read from the usage history.
#include "usage/CapForecast.h"
#include "usage/UsageReport.h"
#include "usage/UsageRules.h"
#include "usagewindow/UsageCharts.h"
#include "usagewindow/UsageWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString kHistoryOff =
    QStringLiteral("The usage history is off, so there is nothing to show here.");

bool sameTotal(const UsageTotal &a, const UsageTotal &b) {
    return a.period == b.period && a.hour == b.hour && a.received == b.received &&
           a.sent == b.sent && a.known == b.known;
}

QString dayLabel(const UsageTotal &t) {
    return QLocale().toString(t.period.day());
}

// A zone half an hour off UTC starts its hours at half past.
QString hourLabel(const UsageTotal &t) {
    return QLocale().toString(t.hour,
                              t.hour.minute() ? QStringLiteral("H:mm") : QStringLiteral("H"));
}

// The list's hours span two days: "Tue 14:00".
QString dayHourLabel(const UsageTotal &t) {
    return QLocale().toString(t.period, QStringLiteral("ddd ")) +
           QLocale().toString(t.hour, QStringLiteral("HH:mm"));
}

QString monthLabel(const UsageTotal &t) {
    return QLocale().standaloneMonthName(t.period.month(), QLocale::ShortFormat);
}

// The list's months span years, the bars above it say only the month:
// "Dec 2025" and "Jan 2026" in the list.
QString monthYearLabel(const UsageTotal &t) {
    return QLocale().toString(t.period, QStringLiteral("MMM yyyy"));
}

QString yearLabel(const UsageTotal &t) {
    return QString::number(t.period.year());
}

QString dateLabel(const UsageTotal &t) {
    return QLocale().toString(t.period, QLocale::ShortFormat);
}

using Label = std::function<QString(const UsageTotal &)>;

// Each figure column in one unit, named in its heading, with the exact byte
// count a hover away; the current row (this hour, today, this month) in
// bold. A period before the interface's first record reads "-": its zeros
// are not known.
void fillTable(QTableWidget *table, const std::vector<UsageTotal> &totals, const Label &label,
               const std::function<bool(const UsageTotal &)> &current, UsageUnits::System system) {
    const auto units = UsageReport::columnUnits(totals, system);
    const QString period = table->horizontalHeaderItem(0)->text();
    table->setHorizontalHeaderLabels({period, QStringLiteral("Received (%1)").arg(units[0].name),
                                      QStringLiteral("Sent (%1)").arg(units[1].name),
                                      QStringLiteral("Total (%1)").arg(units[2].name)});
    table->setRowCount(int(totals.size()));
    for (int row = 0; row < int(totals.size()); ++row) {
        const UsageTotal &t = totals[row];
        const bool now = current(t);
        const auto figure = [&](quint64 bytes, const UsageUnits::Unit &unit) {
            return t.known ? UsageUnits::figure(bytes, unit) : UsageReport::kUnknown;
        };
        const QString cells[] = {label(t) + (now ? QStringLiteral(" ◂") : QString()),
                                 figure(t.received, units[0]), figure(t.sent, units[1]),
                                 figure(t.received + t.sent, units[2])};
        for (int column = 0; column < 4; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            item->setTextAlignment(column ? Qt::AlignRight | Qt::AlignVCenter
                                          : Qt::AlignLeft | Qt::AlignVCenter);
            item->setToolTip(t.known ? UsageReport::exactLine(t)
                                     : QStringLiteral("Before the first record of this interface"));
            if (now) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            table->setItem(row, column, item);
        }
    }
}

// Fills the table only when its figures changed: a refresh with the same
// ones rebuilds nothing, and leaves the list where the user scrolled it.
void showTotals(QTableWidget *table, const std::vector<UsageTotal> &totals,
                std::vector<UsageTotal> &shown, const Label &label,
                const std::function<bool(const UsageTotal &)> &current, UsageUnits::System system) {
    if (std::equal(totals.begin(), totals.end(), shown.begin(), shown.end(), sameTotal))
        return;
    fillTable(table, totals, label, current, system);
    shown = totals;
}

QTableWidget *totalsTable(const QString &period) {
    auto *table = new QTableWidget(0, 4);
    table->setHorizontalHeaderLabels(
        {period, QStringLiteral("Received"), QStringLiteral("Sent"), QStringLiteral("Total")});
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    return table;
}

// The current row in sight when the list comes up, and in a new period; not
// at every refresh, which would take the list away from where the user
// scrolled.
template <typename Period>
void bringToCurrent(QTableWidget *table, int row, Period current, Period &scrolledTo) {
    if (row < 0 || !table->isVisible() || scrolledTo == current)
        return;
    table->scrollToItem(table->item(row, 0), QAbstractItemView::PositionAtCenter);
    scrolledTo = current;
}

} // namespace

void UsageWindow::addHistoryPages() {
    lblToday = plainLabel();
    barsDays = new UsageBars(dayLabel);
    tableDays = totalsTable(QStringLiteral("Day"));
    tabs->addTab(historyPage(barsDays, tableDays, lblToday), QStringLiteral("&Days"));
    lblThisHour = plainLabel();
    barsHours = new UsageBars(hourLabel);
    tableHours = totalsTable(QStringLiteral("Hour"));
    tabs->addTab(historyPage(barsHours, tableHours, lblThisHour), QStringLiteral("Hour&s"));
    lblThisMonth = plainLabel();
    barsMonths = new UsageBars(monthLabel);
    tableMonths = totalsTable(QStringLiteral("Month"));
    tabs->addTab(historyPage(barsMonths, tableMonths, lblThisMonth), QStringLiteral("&Months"));
    tableYears = totalsTable(QStringLiteral("Year"));
    tabs->addTab(historyPage(nullptr, tableYears, nullptr), QStringLiteral("&Years"));
    tableTop = totalsTable(QStringLiteral("Day"));
    tabs->addTab(
        historyPage(nullptr, tableTop, plainLabel(QStringLiteral("The busiest days on record"))),
        QStringLiteral("&Busiest days"));
}

QWidget *UsageWindow::historyPage(UsageBars *bars, QTableWidget *table, QLabel *above) {
    auto *stack = new QStackedWidget;
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    if (above)
        layout->addWidget(above);
    if (bars)
        layout->addWidget(bars, 1);
    layout->addWidget(table, 1);
    stack->addWidget(content);
    auto *off = plainLabel(kHistoryOff);
    off->setAlignment(Qt::AlignCenter);
    off->setWordWrap(true);
    stack->addWidget(off);
    historyStacks_ << stack;
    return stack;
}

void UsageWindow::refreshHistory() {
    ticksSinceRefresh_ = 0;
    showRecording();
    // Switched off, what was kept stands still: shown, it would look live.
    const bool available = history_ && history_->available() && history_->recording();
    for (QStackedWidget *stack : historyStacks_)
        stack->setCurrentIndex(available ? 0 : 1);
    // Only a page with a table of this interface's has anything to save.
    btnExport->setEnabled(
        available && !interface_.isEmpty() &&
        historyStacks_.contains(qobject_cast<QStackedWidget *>(tabs->currentWidget())));
    if (!available || interface_.isEmpty()) {
        // Nothing of another interface may stay on show.
        lblToday->setText(available ? QString() : kHistoryOff);
        lblThisHour->clear();
        lblThisMonth->clear();
        for (UsageBars *bars : {barsDays, barsHours, barsMonths})
            bars->setTotals({});
        for (QTableWidget *table : {tableDays, tableHours, tableMonths, tableYears, tableTop})
            table->setRowCount(0);
        for (auto *shown : {&shownDays_, &shownHours_, &shownMonths_, &shownYears_, &shownTop_})
            shown->clear();
        return;
    }
    const QDate today = today_();
    const qint64 now = CapForecast::nowOn(today);
    refreshDays(today, now);
    refreshHours();
    refreshMonths(today, now);
    refreshRecords();
}

void UsageWindow::refreshDays(QDate today, qint64 now) {
    const QDate firstOfMonth(today.year(), today.month(), 1);
    // The bars keep a place for each day of the month; the list ends today:
    // the days to come have no figures yet.
    auto days =
        history_->days(interface_, firstOfMonth, firstOfMonth.addDays(today.daysInMonth() - 1));
    barsDays->setTotals(days);
    std::erase_if(days, [&](const UsageTotal &day) { return day.period > today; });
    if (!days.empty() && days.back().period == today) {
        const auto estimate = UsageReport::estimate(days.back(), today, today,
                                                    history_->firstDay(interface_), today, now);
        lblToday->setText(UsageReport::totalLine(QStringLiteral("Today"), days.back(), sizes_) +
                          UsageReport::estimateText(estimate, {}, sizes_));
        lblToday->setToolTip(UsageReport::exactLine(days.back()));
    }
    showTotals(
        tableDays, days, shownDays_, dayLabel,
        [&](const UsageTotal &t) { return t.period == today; }, sizes_);
    bringToCurrent(tableDays, int(days.size()) - 1, today, daysScrolledTo_);
}

void UsageWindow::refreshHours() {
    const auto hours = history_->hours(interface_, UsageReport::kHours);
    barsHours->setTotals(hours);
    if (hours.empty()) {
        lblThisHour->clear();
        tableHours->setRowCount(0);
        shownHours_.clear();
        return;
    }
    const UsageTotal &current = hours.back();
    lblThisHour->setText(UsageReport::totalLine(QStringLiteral("This hour"), current, sizes_));
    lblThisHour->setToolTip(UsageReport::exactLine(current));
    showTotals(
        tableHours, hours, shownHours_, dayHourLabel,
        [&](const UsageTotal &t) { return sameTotal(t, current); }, sizes_);
    bringToCurrent(tableHours, int(hours.size()) - 1, QDateTime(current.period, current.hour),
                   hoursScrolledTo_);
}

void UsageWindow::refreshMonths(QDate today, qint64 now) {
    const QDate firstOfMonth(today.year(), today.month(), 1);
    // The list reaches back to the first year on record, the bars show a
    // year's months.
    const QDate first = history_->firstDay(interface_);
    QDate from = firstOfMonth.addMonths(-11);
    if (first.isValid() && QDate(first.year(), 1, 1) < from)
        from = QDate(first.year(), 1, 1);
    const auto months = history_->months(interface_, from, firstOfMonth);
    barsMonths->setTotals(std::vector<UsageTotal>(
        months.end() - std::min<qsizetype>(12, qsizetype(months.size())), months.end()));
    if (!months.empty()) {
        const auto estimate = UsageReport::estimate(
            months.back(), firstOfMonth, firstOfMonth.addMonths(1).addDays(-1), first, today, now);
        lblThisMonth->setText(
            UsageReport::totalLine(QStringLiteral("This month"), months.back(), sizes_) +
            UsageReport::estimateText(estimate, firstOfMonth.addMonths(1).addDays(-1), sizes_));
        lblThisMonth->setToolTip(UsageReport::exactLine(months.back()));
    }
    const auto isThis = [&](const UsageTotal &t) { return t.period == firstOfMonth; };
    showTotals(tableMonths, months, shownMonths_, monthYearLabel, isThis, sizes_);
    bringToCurrent(tableMonths, int(months.size()) - 1, firstOfMonth, monthsScrolledTo_);
    // The years are the months summed: the list holds every month of them.
    showTotals(
        tableYears, UsageRules::years(months), shownYears_, yearLabel,
        [&](const UsageTotal &t) { return t.period.year() == today.year(); }, sizes_);
}

void UsageWindow::refreshRecords() {
    // Every row of the interface is read: only while the page is in front.
    if (tabs->currentWidget() != historyStacks_.value(4))
        return;
    showTotals(
        tableTop, history_->topDays(interface_, UsageReport::kTopDays), shownTop_, dateLabel,
        [](const UsageTotal &) { return false; }, sizes_);
}
