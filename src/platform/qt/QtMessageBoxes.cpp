#include "platform/qt/QtMessageBoxes.h"

#include <QMessageBox>

void QtMessageBoxes::show(QWidget *parent, const QString &text, const QString &title, Icon icon) {
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
