// The Days and Months pages of the Usage window: bars above a table, read
// from the usage history.
#include "usage/UsageReport.h"
#include "usagewindow/UsageCharts.h"
#include "usagewindow/UsageWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString kHistoryOff =
    QStringLiteral("The usage history is off, so there is nothing to show here.");

bool sameTotal(const UsageTotal &a, const UsageTotal &b) {
    return a.period == b.period && a.received == b.received && a.sent == b.sent &&
           a.known == b.known;
}

QString dayLabel(const QDate &day) {
    return QLocale().toString(day.day());
}

QString monthLabel(const QDate &month) {
    return QLocale().standaloneMonthName(month.month(), QLocale::ShortFormat);
}

// The list's twelve months span two years, the bars above it say only the
// month: "Dec 2025" and "Jan 2026" in the list.
QString monthYearLabel(const QDate &month) {
    return QLocale().toString(month, QStringLiteral("MMM yyyy"));
}

// Each figure column in one unit, named in its heading, with the exact byte
// count a hover away; the row of today (or this month) in bold. A period
// before the interface's first record reads "-": its zeros are not known.
void fillTable(QTableWidget *table, const std::vector<UsageTotal> &totals,
               const std::function<QString(const QDate &)> &label, QDate current,
               UsageUnits::System system) {
    const auto units = UsageReport::columnUnits(totals, system);
    const QString period = table->horizontalHeaderItem(0)->text();
    table->setHorizontalHeaderLabels({period, QStringLiteral("Received (%1)").arg(units[0].name),
                                      QStringLiteral("Sent (%1)").arg(units[1].name),
                                      QStringLiteral("Total (%1)").arg(units[2].name)});
    table->setRowCount(int(totals.size()));
    for (int row = 0; row < int(totals.size()); ++row) {
        const UsageTotal &t = totals[row];
        const bool now = t.period == current;
        const auto figure = [&](quint64 bytes, const UsageUnits::Unit &unit) {
            return t.known ? UsageUnits::figure(bytes, unit) : UsageReport::kUnknown;
        };
        const QString cells[] = {label(t.period) + (now ? QStringLiteral(" ◂") : QString()),
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
void bringToCurrent(QTableWidget *table, int row, QDate current, QDate &scrolledTo) {
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
    lblThisMonth = plainLabel();
    barsMonths = new UsageBars(monthLabel);
    tableMonths = totalsTable(QStringLiteral("Month"));
    tabs->addTab(historyPage(barsMonths, tableMonths, lblThisMonth), QStringLiteral("&Months"));
}

QWidget *UsageWindow::historyPage(UsageBars *bars, QTableWidget *table, QLabel *above) {
    auto *stack = new QStackedWidget;
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->addWidget(above);
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
    if (!available || interface_.isEmpty()) {
        // Nothing of another interface may stay on show.
        lblToday->setText(available ? QString() : kHistoryOff);
        lblThisMonth->clear();
        barsDays->setTotals({});
        barsMonths->setTotals({});
        tableDays->setRowCount(0);
        tableMonths->setRowCount(0);
        shownDays_.clear();
        shownMonths_.clear();
        return;
    }
    const QDate today = today_();
    const QDate firstOfMonth(today.year(), today.month(), 1);
    // The bars keep a place for each day of the month; the list ends today:
    // the days to come have no figures yet.
    auto days =
        history_->days(interface_, firstOfMonth, firstOfMonth.addDays(today.daysInMonth() - 1));
    barsDays->setTotals(days);
    std::erase_if(days, [&](const UsageTotal &day) { return day.period > today; });
    if (!days.empty() && days.back().period == today) {
        lblToday->setText(UsageReport::totalLine(QStringLiteral("Today"), days.back(), sizes_));
        lblToday->setToolTip(UsageReport::exactLine(days.back()));
    }
    if (!std::equal(days.begin(), days.end(), shownDays_.begin(), shownDays_.end(), sameTotal)) {
        fillTable(tableDays, days, dayLabel, today, sizes_);
        shownDays_ = days;
    }
    bringToCurrent(tableDays, int(days.size()) - 1, today, daysScrolledTo_);
    const auto months = history_->months(interface_, firstOfMonth.addMonths(-11), firstOfMonth);
    barsMonths->setTotals(months);
    if (!months.empty()) {
        lblThisMonth->setText(
            UsageReport::totalLine(QStringLiteral("This month"), months.back(), sizes_));
        lblThisMonth->setToolTip(UsageReport::exactLine(months.back()));
    }
    if (!std::equal(months.begin(), months.end(), shownMonths_.begin(), shownMonths_.end(),
                    sameTotal)) {
        fillTable(tableMonths, months, monthYearLabel, firstOfMonth, sizes_);
        shownMonths_ = months;
    }
    bringToCurrent(tableMonths, int(months.size()) - 1, firstOfMonth, monthsScrolledTo_);
}
