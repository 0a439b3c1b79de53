#include "ui/ValueLabel.h"

#include <QLabel>

void makeValueLabel(QLabel *label) {
    label->setAutoFillBackground(true);
    label->setTextFormat(Qt::PlainText);
    label->setFixedSize(label->size());
}
