#include "ui/frmMiniBandwidth.h"

#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/ValueLabel.h"
#include "ui_frmMiniBandwidth.h"

#include <QLabel>
#include <QScreen>
#include <QStyle>

frmMiniBandwidth::frmMiniBandwidth(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      ui(std::make_unique<Ui::frmMiniBandwidth>()) {
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
    for (ValueLabel *value : {ui->lblMiniUp, ui->lblMiniDown})
        makeValueLabel(value);

    if (const QScreen *screen = this->screen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

frmMiniBandwidth::~frmMiniBandwidth() = default;
