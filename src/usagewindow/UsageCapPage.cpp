// The Data cap page of the Usage window: the cap's settings, stored as they
// are committed, and what the cap watcher says of them.
#include "usage/UsageSettings.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/UsageWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

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
    // A size is taken once the user is done with it: on Enter, or when the
    // focus leaves the box. Taken while typed, "1" on the way to "1.5" would
    // be a cap of its own, and warn as one; a pause in the typing is no
    // decision either.
    spnAmount->setKeyboardTracking(false);
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
    // Without keyboard tracking, only once a typed size is committed.
    connect(spnAmount, &QDoubleSpinBox::valueChanged, this, &UsageWindow::capControlsChanged);
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
    if (!spnAmount->hasFocus() && spnAmount->value() != s.amount)
        spnAmount->setValue(s.amount);
    cmbUnit->setCurrentIndex(s.unit == CapRules::Unit::GB ? 0 : 1);
    cmbCounts->setCurrentIndex(int(s.direction));
    txtWarnings->setText(CapRules::percentagesText(s.warnings));
    spnResetDay->setEnabled(s.period == CapRules::Period::Monthly);
    lblCapStatus->setText(cap_.statusText());
}

void UsageWindow::capControlsChanged() {
    CapSettings s = cap_.settings();
    s.enabled = chkCap->isChecked();
    s.period = cmbPeriod->currentIndex() == 0 ? CapRules::Period::Daily : CapRules::Period::Monthly;
    s.resetDay = spnResetDay->value();
    // The size last committed, not the text being typed: another control
    // changed meanwhile (by a screen reader, without moving the focus)
    // commits nothing.
    s.amount = spnAmount->value();
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
