#include "ui/frmMiniBandwidth.h"

#include "monitor/Monitor.h"
#include "monitor/RateText.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/ValueLabel.h"
#include "ui_frmMiniBandwidth.h"

#include <QLabel>
#include <QScreen>
#include <QStyle>

frmMiniBandwidth::frmMiniBandwidth(Monitor *monitor, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      ui(std::make_unique<Ui::frmMiniBandwidth>()), monitor_(monitor) {
    Fonts::ensureTahoma();
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(Fonts::dialogFont());
    setFixedSize(98, 37);

    const qreal ratio = devicePixelRatioF();
    ui->Image1->setPixmap(Images::miniUpArrow().pixmap(QSize(16, 16), ratio));
    ui->Image2->setPixmap(Images::miniDownArrow().pixmap(QSize(16, 16), ratio));
    for (QLabel *label : {ui->Label1, ui->Label2})
        label->adjustSize();

    if (const QScreen *screen = this->screen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));

    monitor->watch(this);
    connect(monitor, &Monitor::sampled, this, [this] {
        if (isVisible())
            showRates();
    });
}

frmMiniBandwidth::~frmMiniBandwidth() = default;

void frmMiniBandwidth::showEvent(QShowEvent *event) {
    showRates();
    QWidget::showEvent(event);
}

// The main window's rates in k/sec. While only one of them is measured
// (the other side's counter was just reset) both stay as they were.
void frmMiniBandwidth::showRates() {
    const Figures &f = monitor_->figures();
    const auto kilo = [](const std::optional<double> &rate) -> std::optional<QString> {
        const auto whole = rate ? RateText::roundedWhole(*rate) : std::nullopt;
        return whole ? std::optional(RateText::kiloText(*whole)) : std::nullopt;
    };
    const auto up = kilo(f.up), down = kilo(f.down);
    if (up.has_value() != down.has_value())
        return;
    ui->lblMiniUp->setText(up.value_or(QString()));
    ui->lblMiniDown->setText(down.value_or(QString()));
}
