#include "usagewindow/UsageWindow.h"

#include "ui/ValueLabel.h"
#include "usage/UsageHistory.h"
#include "usage/UsageReport.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/UsageCharts.h"
#include "usagewindow/UsageSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

// How often, in ticks, the shown window reads the history again.
constexpr int kRefreshTicks = 10;
// A pause this long in typing the cap's size takes what was typed.
constexpr int kAmountPauseMs = 2000;

const QString kHistoryOff =
    QStringLiteral("The usage history is off, so there is nothing to show here.");

// Every text in this window is plain: interface names are the kernel's bytes.
QLabel *plainLabel(const QString &text = QString()) {
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The two rate lines, rewritten on every tick: painted from cached glyphs.
ValueLabel *rateLabel(const QString &text) {
    auto *label = new ValueLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString rateLine(const QString &direction, double rate, UsageUnits::RateUnit unit) {
    if (std::isnan(rate))
        return direction + QStringLiteral(": no reading");
    return direction + QStringLiteral(": ") + UsageUnits::rate(rate, unit);
}

bool sameTotal(const UsageTotal &a, const UsageTotal &b) {
    return a.period == b.period && a.received == b.received && a.sent == b.sent;
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
// count a hover away; the row of today (or this month) in bold.
void fillTable(QTableWidget *table, const std::vector<UsageTotal> &totals,
               const std::function<QString(const QDate &)> &label, QDate current,
               UsageUnits::System system) {
    const auto units = UsageReport::columnUnits(totals, system);
    const QString period = table->horizontalHeaderItem(0)->text();
    table->setHorizontalHeaderLabels({period, QStringLiteral("Received (%1)").arg(units[0].name),
                                      QStringLiteral("Sent (%1)").arg(units[1].name)});
    table->setRowCount(int(totals.size()));
    for (int row = 0; row < int(totals.size()); ++row) {
        const UsageTotal &t = totals[row];
        const bool now = t.period == current;
        const QString cells[] = {label(t.period) + (now ? QStringLiteral(" ◂") : QString()),
                                 UsageUnits::figure(t.received, units[0]),
                                 UsageUnits::figure(t.sent, units[1])};
        for (int column = 0; column < 3; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            item->setTextAlignment(column ? Qt::AlignRight | Qt::AlignVCenter
                                          : Qt::AlignLeft | Qt::AlignVCenter);
            item->setToolTip(UsageReport::exactLine(t));
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
    auto *table = new QTableWidget(0, 3);
    table->setHorizontalHeaderLabels({period, QStringLiteral("Received"), QStringLiteral("Sent")});
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    return table;
}

// Holds one line of text that changes on every tick. A QLabel whose text
// changes asks the layouts above it to run again, and that request climbs to
// the tab widget, which then repaints itself whole, frame and tab row
// included, on every tick. A widget without a layout of its own ends the
// request here; the line's height never changes anyway.
//
// The label is only as wide as the widest text it showed: a new figure
// repaints, and sends to the display, that much of the line and not the
// window's whole width. It never narrows while shown, so that it covers
// whatever it painted before; the line beside it shows the same background.
// Its size is fixed, so that a new text posts no layout request either.
class TickLine final : public QWidget {
public:
    explicit TickLine(ValueLabel *label) : label_(label) {
        label->setParent(this);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {0, label_->sizeHint().height()}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

    void fit() {
        widest_ = std::max(widest_, label_->textWidth());
        const int wanted = std::min(width(), widest_);
        if (label_->size() != QSize(wanted, height()))
            label_->setFixedSize(wanted, height());
    }

protected:
    void resizeEvent(QResizeEvent *) override { fit(); }

private:
    ValueLabel *label_;
    int widest_ = 0; // the widest text so far, not the label's first size
};

void showRateLine(QLabel *label, const QString &text) {
    if (label->text() == text)
        return;
    showFigure(label, text);
    static_cast<TickLine *>(label->parentWidget())->fit();
}

} // namespace

UsageWindow::UsageWindow(const RateTrail &trail, CapWatcher &cap, UsageHistory *history,
                         Today today, QWidget *parent)
    : QWidget(parent, Qt::Window), trail_(trail), cap_(cap), history_(history),
      today_(std::move(today)) {
    setObjectName(QStringLiteral("frmUsage"));
    setWindowTitle(QStringLiteral("Usage"));
    lblInterface = plainLabel(QStringLiteral("Interface: none selected"));
    tabs = new QTabWidget;
    tabs->addTab(livePage(), QStringLiteral("&Live"));
    lblToday = plainLabel();
    barsDays = new UsageBars(dayLabel);
    tableDays = totalsTable(QStringLiteral("Day"));
    tabs->addTab(historyPage(barsDays, tableDays, lblToday), QStringLiteral("&Days"));
    barsMonths = new UsageBars(monthLabel);
    tableMonths = totalsTable(QStringLiteral("Month"));
    tabs->addTab(historyPage(barsMonths, tableMonths, nullptr), QStringLiteral("&Months"));
    tabs->addTab(capPage(), QStringLiteral("Data &cap"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblInterface);
    layout->addLayout(recordingRow());
    layout->addWidget(tabs);
    layout->addLayout(unitsRow());
    resize(520, 440);
    connect(tabs, &QTabWidget::currentChanged, this, [this] { refreshHistory(); });
    showCapSettings();
    refreshHistory();
}

UsageWindow::~UsageWindow() {
    if (isVisible())
        rememberPosition();
}

QLayout *UsageWindow::recordingRow() {
    lblRecording = plainLabel();
    chkRecord = new QCheckBox(QStringLiteral("Record &usage of this interface"));
    chkKeepHistory = new QCheckBox(QStringLiteral("Keep usage &history"));
    auto *boxes = new QHBoxLayout;
    boxes->addWidget(chkRecord);
    boxes->addStretch(1);
    boxes->addWidget(chkKeepHistory);
    auto *rows = new QVBoxLayout;
    rows->addWidget(lblRecording);
    rows->addLayout(boxes);
    // Only the user's clicks: the boxes are set from the history's answers.
    connect(chkKeepHistory, &QCheckBox::clicked, this, [this](bool keep) {
        history_->setRecording(keep, history_->namedInterfaces());
        refreshHistory();
    });
    connect(chkRecord, &QCheckBox::clicked, this, [this](bool record) {
        QSet<QByteArray> named = history_->namedInterfaces();
        if (record)
            named.insert(interface_);
        else
            named.remove(interface_);
        history_->setRecording(history_->recording(), named);
        refreshHistory();
    });
    return rows;
}

QLayout *UsageWindow::unitsRow() {
    cmbSizes = new QComboBox;
    cmbSizes->addItems(
        {QStringLiteral("kB, MB, GB (1000)"), QStringLiteral("KiB, MiB, GiB (1024)")});
    cmbSizes->setToolTip(QStringLiteral("A data cap counted in GiB shows sizes in GiB as well."));
    cmbSizes->setCurrentIndex(int(UsageSettings::readSizeChoice()));
    cmbRates = new QComboBox;
    cmbRates->addItems({QStringLiteral("k/sec (1000 bytes)"), QStringLiteral("kbit/s, Mbit/s")});
    cmbRates->setCurrentIndex(int(UsageSettings::readRateUnit()));
    auto *row = new QHBoxLayout;
    for (auto [text, box] : {std::pair{"S&izes in:", cmbSizes}, {"Ra&tes in:", cmbRates}}) {
        auto *label = new QLabel(QLatin1String(text));
        label->setBuddy(box);
        row->addWidget(label);
        row->addWidget(box);
    }
    row->addStretch(1);
    connect(cmbSizes, &QComboBox::activated, this, [this](int index) {
        UsageSettings::writeSizeChoice(UsageUnits::System(index));
        showUnits();
    });
    connect(cmbRates, &QComboBox::activated, this, [this](int index) {
        UsageSettings::writeRateUnit(UsageUnits::RateUnit(index));
        showUnits();
    });
    return row;
}

void UsageWindow::showUnits() {
    rateUnit_ = UsageSettings::readRateUnit();
    graphDown->setRateUnit(rateUnit_);
    graphUp->setRateUnit(rateUnit_);
    showRateLine(lblDown, rateLine(QStringLiteral("Download"), down_, rateUnit_));
    showRateLine(lblUp, rateLine(QStringLiteral("Upload"), up_, rateUnit_));
    sizes_ = UsageSettings::sizeSystem();
    barsDays->setSystem(sizes_);
    barsMonths->setSystem(sizes_);
    shownDays_.clear();
    shownMonths_.clear();
    refreshHistory();
}

void UsageWindow::showRecording() {
    const bool keep = history_ && history_->recording();
    const bool on = keep && history_->available();
    const bool recorded = on && history_->records(interface_);
    chkKeepHistory->setEnabled(history_ != nullptr);
    chkKeepHistory->setChecked(keep);
    chkRecord->setChecked(recorded);
    // An interface the history counts by itself (not loopback, a veth or a
    // bridge) has nothing to choose.
    chkRecord->setEnabled(on && !interface_.isEmpty() &&
                          (!recorded || history_->namedInterfaces().contains(interface_)));
    QString line;
    if (!on)
        line = QStringLiteral("The usage history is off.");
    else if (!interface_.isEmpty() && !recorded)
        line = QStringLiteral("Usage of %1 is not recorded.").arg(QString::fromUtf8(interface_));
    lblRecording->setText(line);
    lblRecording->setVisible(!line.isEmpty());
}

QWidget *UsageWindow::livePage() {
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    ValueLabel *down = rateLabel(rateLine(QStringLiteral("Download"), down_, rateUnit_));
    ValueLabel *up = rateLabel(rateLine(QStringLiteral("Upload"), up_, rateUnit_));
    lblDown = down;
    lblUp = up;
    graphDown = new RateGraph(trail_, &RateTrail::Point::down, receivedColour());
    graphUp = new RateGraph(trail_, &RateTrail::Point::up, sentColour());
    layout->addWidget(new TickLine(down));
    layout->addWidget(graphDown, 1);
    layout->addWidget(new TickLine(up));
    layout->addWidget(graphUp, 1);
    // The page, its labels and the graphs share one plain background, and
    // each fills its own: a tick then repaints only the labels' and the
    // plots' own pixels, never the tab page behind them.
    for (QWidget *w : {page, static_cast<QWidget *>(lblDown), static_cast<QWidget *>(lblUp)}) {
        w->setBackgroundRole(QPalette::Base);
        w->setAutoFillBackground(true);
    }
    return page;
}

QWidget *UsageWindow::historyPage(UsageBars *bars, QTableWidget *table, QLabel *above) {
    auto *stack = new QStackedWidget;
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    if (above)
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

QWidget *UsageWindow::capPage() {
    auto *page = new QWidget;
    auto *form = new QFormLayout(page);
    chkCap = new QCheckBox(QStringLiteral("&Warn before a data cap is used up"));
    form->addRow(chkCap);
    cmbPeriod = new QComboBox;
    cmbPeriod->addItems({QStringLiteral("Daily"), QStringLiteral("Monthly")});
    form->addRow(QStringLiteral("&Period:"), cmbPeriod);
    spnResetDay = new QSpinBox;
    spnResetDay->setRange(1, 31);
    spnResetDay->setToolTip(
        QStringLiteral("Days past the end of a shorter month mean its last day."));
    form->addRow(QStringLiteral("Monthly &reset day:"), spnResetDay);
    auto *amountRow = new QHBoxLayout;
    spnAmount = new QDoubleSpinBox;
    spnAmount->setDecimals(2);
    spnAmount->setRange(0.01, 1000000);
    // A size is taken once typed: on Enter, when the focus leaves, or after
    // a pause in the typing. Each keystroke taken as a size would warn of
    // "0.4" on the way to "0.49".
    spnAmount->setKeyboardTracking(false);
    amountPause_ = new QTimer(this);
    amountPause_->setSingleShot(true);
    amountPause_->setInterval(kAmountPauseMs);
    cmbUnit = new QComboBox;
    cmbUnit->addItems({QStringLiteral("GB (1000³ bytes)"), QStringLiteral("GiB (1024³ bytes)")});
    amountRow->addWidget(spnAmount, 1);
    amountRow->addWidget(cmbUnit);
    // A row of two controls gets no buddy from the form; the label names
    // the spin box itself, so that its access key lands there.
    auto *amountLabel = new QLabel(QStringLiteral("Cap si&ze:"));
    amountLabel->setBuddy(spnAmount);
    form->addRow(amountLabel, amountRow);
    cmbCounts = new QComboBox;
    cmbCounts->addItems({QStringLiteral("Received and sent"), QStringLiteral("Received only"),
                         QStringLiteral("Sent only")});
    form->addRow(QStringLiteral("C&ounts:"), cmbCounts);
    txtWarnings = new QLineEdit;
    txtWarnings->setToolTip(QStringLiteral("Whole percentages, for example: 80 100"));
    form->addRow(QStringLiteral("Warn &at (%):"), txtWarnings);
    lblCapStatus = plainLabel();
    lblCapStatus->setWordWrap(true);
    form->addRow(lblCapStatus);

    for (QComboBox *box : {cmbPeriod, cmbUnit, cmbCounts})
        connect(box, &QComboBox::currentIndexChanged, this, &UsageWindow::capControlsChanged);
    connect(chkCap, &QCheckBox::toggled, this, &UsageWindow::capControlsChanged);
    connect(spnResetDay, &QSpinBox::valueChanged, this, &UsageWindow::capControlsChanged);
    connect(spnAmount, &QDoubleSpinBox::valueChanged, this, &UsageWindow::capControlsChanged);
    // Without keyboard tracking the box says nothing until the editing is
    // over; its line edit tells of each keystroke.
    connect(spnAmount->findChild<QLineEdit *>(), &QLineEdit::textEdited, amountPause_,
            qOverload<>(&QTimer::start));
    connect(amountPause_, &QTimer::timeout, this, &UsageWindow::capControlsChanged);
    connect(txtWarnings, &QLineEdit::editingFinished, this, &UsageWindow::capControlsChanged);
    return page;
}

void UsageWindow::showCapSettings() {
    const CapSettings &s = cap_.settings();
    const QSignalBlocker blocks[] = {QSignalBlocker(chkCap),      QSignalBlocker(cmbPeriod),
                                     QSignalBlocker(spnResetDay), QSignalBlocker(spnAmount),
                                     QSignalBlocker(cmbUnit),     QSignalBlocker(cmbCounts),
                                     QSignalBlocker(txtWarnings)};
    chkCap->setChecked(s.enabled);
    cmbPeriod->setCurrentIndex(s.period == CapRules::Period::Daily ? 0 : 1);
    spnResetDay->setValue(s.resetDay);
    // Never under the user's fingers: "0.4" on its way to "0.49" would
    // become "0.40". Qt puts the text in form once the editing is over.
    if (!spnAmount->hasFocus() && typedAmount() != s.amount)
        spnAmount->setValue(s.amount);
    cmbUnit->setCurrentIndex(s.unit == CapRules::Unit::GB ? 0 : 1);
    cmbCounts->setCurrentIndex(int(s.direction));
    txtWarnings->setText(CapRules::percentagesText(s.warnings));
    spnResetDay->setEnabled(s.period == CapRules::Period::Monthly);
    lblCapStatus->setText(cap_.statusText());
}

void UsageWindow::capControlsChanged() {
    amountPause_->stop();
    CapSettings s = cap_.settings();
    s.enabled = chkCap->isChecked();
    s.period = cmbPeriod->currentIndex() == 0 ? CapRules::Period::Daily : CapRules::Period::Monthly;
    s.resetDay = spnResetDay->value();
    if (const auto amount = typedAmount())
        s.amount = *amount;
    s.unit = cmbUnit->currentIndex() == 0 ? CapRules::Unit::GB : CapRules::Unit::GiB;
    s.direction = CapRules::Direction(cmbCounts->currentIndex());
    // Text that is not a list of percentages goes back to the stored list.
    if (const auto warnings = CapRules::readPercentages(txtWarnings->text()))
        s.warnings = *warnings;
    cap_.setSettings(s);
    showCapSettings();
    if (UsageSettings::sizeSystem() != sizes_)
        showUnits(); // a cap in GiB shows sizes in GiB
}

std::optional<double> UsageWindow::typedAmount() const {
    // The box's text, not its value: without keyboard tracking the value
    // is the one from before the typing.
    QString text = spnAmount->text();
    int at = int(text.size());
    if (spnAmount->validate(text, at) != QValidator::Acceptable)
        return std::nullopt;
    return spnAmount->valueFromText(text);
}

void UsageWindow::sampled(const TickSample &sample) {
    last_ = sample;
    if (isMinimized())
        return;
    if (sample.name != interface_) {
        interface_ = sample.name;
        daysScrolledTo_ = {};
        lblInterface->setText(interface_.isEmpty()
                                  ? QStringLiteral("Interface: none selected")
                                  : QStringLiteral("Interface: ") + QString::fromUtf8(interface_));
        refreshHistory();
    } else if (++ticksSinceRefresh_ >= kRefreshTicks) {
        // The days and months are read again when their page comes to the
        // front; behind the live graph only the recording row is kept up.
        if (historyStacks_.contains(qobject_cast<QStackedWidget *>(tabs->currentWidget()))) {
            refreshHistory();
        } else {
            ticksSinceRefresh_ = 0;
            showRecording();
        }
    }
    down_ = sample.hasRates ? sample.downRate : std::nan("");
    up_ = sample.hasRates ? sample.upRate : std::nan("");
    // Only what changed: a label keeps a text it already shows, and the
    // graphs repaint only while their page is the one in front.
    showRateLine(lblDown, rateLine(QStringLiteral("Download"), down_, rateUnit_));
    showRateLine(lblUp, rateLine(QStringLiteral("Upload"), up_, rateUnit_));
    if (graphDown->isVisible()) {
        graphDown->refresh();
        graphUp->refresh();
    }
    const QString status = cap_.statusText();
    if (lblCapStatus->text() != status)
        lblCapStatus->setText(status);
    // Painted in this turn of the event loop: left to the posted repaint,
    // every tick would wake the loop a second time just to paint the graph.
    QCoreApplication::sendPostedEvents(this, QEvent::UpdateRequest);
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
        barsDays->setTotals({});
        barsMonths->setTotals({});
        tableDays->setRowCount(0);
        tableMonths->setRowCount(0);
        return;
    }
    const QDate today = today_();
    const QDate firstOfMonth(today.year(), today.month(), 1);
    const auto days =
        history_->days(interface_, firstOfMonth, firstOfMonth.addDays(today.daysInMonth() - 1));
    int todayRow = -1;
    for (int row = 0; row < int(days.size()); ++row)
        if (const UsageTotal &day = days[row]; day.period == today) {
            todayRow = row;
            lblToday->setText(UsageReport::todayLine(day, sizes_));
            lblToday->setToolTip(UsageReport::exactLine(day));
        }
    barsDays->setTotals(days);
    if (!std::equal(days.begin(), days.end(), shownDays_.begin(), shownDays_.end(), sameTotal)) {
        fillTable(tableDays, days, dayLabel, today, sizes_);
        shownDays_ = days;
    }
    // Today in sight when the list comes up, and on a new day; not at every
    // refresh, which would take the list away from where the user scrolled.
    if (todayRow >= 0 && tableDays->isVisible() && daysScrolledTo_ != today) {
        tableDays->scrollToItem(tableDays->item(todayRow, 0), QAbstractItemView::PositionAtCenter);
        daysScrolledTo_ = today;
    }
    const QDate firstMonth = firstOfMonth.addMonths(-11);
    const auto months = history_->months(interface_, firstMonth, firstOfMonth);
    barsMonths->setTotals(months);
    if (!std::equal(months.begin(), months.end(), shownMonths_.begin(), shownMonths_.end(),
                    sameTotal)) {
        fillTable(tableMonths, months, monthYearLabel, firstOfMonth, sizes_);
        shownMonths_ = months;
    }
}

void UsageWindow::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isVisible() && !isMinimized())
        sampled(last_);
}

void UsageWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    daysScrolledTo_ = {};
    rememberPosition();
}

void UsageWindow::rememberPosition() {
    if (!isWindow())
        return;
    const QPoint at = pos();
    if (UsageSettings::readWindowPosition() != at)
        UsageSettings::writeWindowPosition(at);
}
