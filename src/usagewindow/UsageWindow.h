#pragma once

#include "monitor/TickSample.h"
#include "usage/UsageHistory.h"
#include "usage/UsageSettings.h"

#include <QDate>
#include <QDateTime>
#include <QWidget>
#include <cmath>
#include <functional>

class CapWatcher;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTabWidget;
class QTableWidget;
class RateGraph;
class RateTrail;
class UsageBars;
class UsageHistory;

// The "Usage" window: the live graph of the selected interface, its days
// and months from the usage history, and the data cap. It keeps no figures
// of its own: the trail, the history and the cap watcher are handed in. It
// says when the interface is not recorded, and chooses what is.
class UsageWindow final : public QWidget {
public:
    using Today = std::function<QDate()>;

    UsageWindow(const RateTrail &trail, CapWatcher &cap, UsageHistory *history, Today today,
                QWidget *parent = nullptr);
    ~UsageWindow() override;

    // Called for every tick while the window is shown. A minimised window
    // only keeps the sample; the days and months are read again only while
    // one of their pages is in front.
    void sampled(const TickSample &sample);
    // Reads days, months and today again from the history.
    void refreshHistory();

    QTabWidget *tabs = nullptr;
    QLabel *lblInterface = nullptr;
    QLabel *lblRecording = nullptr; // shown while the interface is not recorded
    QCheckBox *chkRecord = nullptr;
    QCheckBox *chkKeepHistory = nullptr;
    QLabel *lblDown = nullptr;
    QLabel *lblUp = nullptr;
    RateGraph *graphDown = nullptr;
    RateGraph *graphUp = nullptr;
    QLabel *lblToday = nullptr;
    QLabel *lblThisHour = nullptr;
    QLabel *lblThisMonth = nullptr;
    UsageBars *barsDays = nullptr;
    UsageBars *barsHours = nullptr;
    UsageBars *barsMonths = nullptr;
    QTableWidget *tableDays = nullptr;
    QTableWidget *tableHours = nullptr;
    QTableWidget *tableMonths = nullptr;
    QTableWidget *tableYears = nullptr;
    QTableWidget *tableTop = nullptr; // the busiest days on record
    QPushButton *btnExport = nullptr;
    QCheckBox *chkCap = nullptr;
    QComboBox *cmbPeriod = nullptr;
    QSpinBox *spnResetDay = nullptr;
    QDoubleSpinBox *spnAmount = nullptr;
    QComboBox *cmbUnit = nullptr;
    QComboBox *cmbCounts = nullptr;
    QLineEdit *txtWarnings = nullptr;
    QLabel *lblCapStatus = nullptr;
    QComboBox *cmbSizes = nullptr;
    QComboBox *cmbRates = nullptr;

    // The table of the page in front as CSV (UsageReport::csv); empty on a
    // page without one.
    QByteArray shownCsv() const;

protected:
    void hideEvent(QHideEvent *event) override;
    // Esc and Ctrl+W close the window, as they close a dialog or a document.
    void keyPressEvent(QKeyEvent *event) override;
    // Brought back from the taskbar: up to date at once, not from the next
    // tick on.
    void changeEvent(QEvent *event) override;

private:
    // Every text in this window is plain: interface names are the kernel's bytes.
    static QLabel *plainLabel(const QString &text = QString());
    QWidget *livePage();
    // The Days, Hours, Months, Years and Busiest days pages
    // (UsageHistoryPages.cpp).
    void addHistoryPages();
    QWidget *historyPage(UsageBars *bars, QTableWidget *table, QLabel *above);
    void refreshDays(QDate today, qint64 now);
    void refreshHours();
    void refreshMonths(QDate today, qint64 now);
    void refreshRecords(); // the years and the busiest days
    // Asks where, and saves shownCsv() there.
    void exportShown();
    // The Data cap page (UsageCapPage.cpp).
    QWidget *capPage();
    QLayout *recordingRow();
    QLayout *unitsRow();
    void showUnits();
    void showRecording();
    void showCapSettings();
    void capControlsChanged();
    void rememberPosition();

    const RateTrail &trail_;
    CapWatcher &cap_;
    UsageHistory *history_;
    Today today_;
    UsageUnits::System sizes_ = UsageSettings::sizeSystem();
    UsageUnits::RateUnit rateUnit_ = UsageSettings::readRateUnit();
    double down_ = std::nan("");
    double up_ = std::nan("");
    // What the tables show, so that a refresh with the same figures
    // rebuilds nothing.
    std::vector<UsageTotal> shownDays_, shownHours_, shownMonths_, shownYears_, shownTop_;
    QByteArray interface_;
    int ticksSinceRefresh_ = 0;
    QList<QStackedWidget *> historyStacks_;
    // The day (month) each list was last brought to.
    QDate daysScrolledTo_, monthsScrolledTo_;
    QDateTime hoursScrolledTo_;
    TickSample last_; // kept while minimised, shown on restore
};
