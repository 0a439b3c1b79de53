#include "ui/frmMiniBandwidth.h"

#include "ui/Images.h"
#include "ui_frmMiniBandwidth.h"

frmMiniBandwidth::frmMiniBandwidth(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      ui(std::make_unique<Ui::frmMiniBandwidth>()) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(size());
    ui->Image1->setPixmap(Images::miniUpArrow().pixmap(16, 16));
    ui->Image2->setPixmap(Images::miniDownArrow().pixmap(16, 16));
}

frmMiniBandwidth::~frmMiniBandwidth() = default;
