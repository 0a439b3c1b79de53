#include "usagewindow/UsageWindow.h"

#include "ui/ValueLabel.h"
#include "usage/UsageHistory.h"
#include "usage/UsageReport.h"
#include "usage/UsageSettings.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/UsageCharts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {

// How often, in ticks, the shown window reads the history again.
constexpr int kRefreshTicks = 10;
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

QLabel *UsageWindow::plainLabel(const QString &text) {
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

UsageWindow::UsageWindow(const RateTrail &trail, CapWatcher &cap, UsageHistory *history,
                         Today today, QWidget *parent)
    : QWidget(parent, Qt::Window), trail_(trail), cap_(cap), history_(history),
      today_(std::move(today)) {
    setObjectName(QStringLiteral("frmUsage"));
    setWindowTitle(QStringLiteral("Usage"));
    lblInterface = plainLabel(QStringLiteral("Interface: none selected"));
    tabs = new QTabWidget;
    tabs->addTab(livePage(), QStringLiteral("&Live"));
    addHistoryPages();
    tabs->addTab(capPage(), QStringLiteral("Data &cap"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblInterface);
    layout->addLayout(recordingRow());
    layout->addWidget(tabs);
    layout->addLayout(unitsRow());
    resize(520, 440);
    connect(tabs, &QTabWidget::currentChanged, this, [this] { refreshHistory(); });
    showCapSettings();
    // The units stored for this start, in every label: the graphs and bars
    // were made in their defaults.
    showUnits();
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
    // Up here rather than beside the units: that row with it would make the
    // window too wide for a small screen with a large font.
    btnExport = new QPushButton(QStringLiteral("&Export..."));
    btnExport->setToolTip(QStringLiteral("Saves this page's table as CSV, in whole bytes."));
    boxes->addWidget(btnExport);
    auto *rows = new QVBoxLayout;
    rows->addWidget(lblRecording);
    rows->addLayout(boxes);
    // On the state, however it changed: a click, the keyboard, or a screen
    // reader's toggle, which sends no click. showRecording() sets the boxes
    // from the history's answers with their signals blocked.
    connect(chkKeepHistory, &QCheckBox::toggled, this, [this](bool keep) {
        history_->setRecording(keep, history_->namedInterfaces());
        refreshHistory();
    });
    connect(chkRecord, &QCheckBox::toggled, this, [this](bool record) {
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
    connect(btnExport, &QPushButton::clicked, this, &UsageWindow::exportShown);
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
    const QSignalBlocker blockKeep(chkKeepHistory), blockRecord(chkRecord);
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
    RateGraph::align(*graphDown, *graphUp);
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

void UsageWindow::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isVisible() && !isMinimized())
        sampled(last_);
}

void UsageWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    daysScrolledTo_ = monthsScrolledTo_ = {};
    hoursScrolledTo_ = {};
    rememberPosition();
}

void UsageWindow::keyPressEvent(QKeyEvent *event) {
    // Reaches here only when the control in focus has no use for the key:
    // an open list or a box being edited takes its Esc first.
    if (event->matches(QKeySequence::Cancel) ||
        event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_W)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void UsageWindow::rememberPosition() {
    if (!isWindow())
        return;
    const QPoint at = pos();
    if (UsageSettings::readWindowPosition() != at)
        UsageSettings::writeWindowPosition(at);
}

QByteArray UsageWindow::shownCsv() const {
    // The tables in the order of their pages.
    static const UsageReport::Table kinds[] = {
        UsageReport::Table::Report, UsageReport::Table::Hours, UsageReport::Table::Months,
        UsageReport::Table::Years, UsageReport::Table::Top};
    const qsizetype page =
        historyStacks_.indexOf(qobject_cast<QStackedWidget *>(tabs->currentWidget()));
    if (page < 0 || page >= qsizetype(std::size(kinds)) || interface_.isEmpty())
        return {};
    UsageReport::Report shown{interface_,  shownDays_, shownMonths_,
                              shownHours_, shownTop_,  shownYears_};
    return UsageReport::csv(shown, kinds[page]);
}

void UsageWindow::exportShown() {
    const QByteArray csv = shownCsv();
    if (csv.isEmpty())
        return;
    const QString name =
        QStringLiteral("%1-%2.csv")
            .arg(QString::fromUtf8(interface_),
                 tabs->tabText(tabs->currentIndex()).remove(u'&').toLower().replace(u' ', u'-'));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export"), name,
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        QMessageBox::warning(
            this, QStringLiteral("Export"),
            QStringLiteral("%1 could not be saved: %2").arg(path, file.errorString()));
}
