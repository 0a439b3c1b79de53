#include "ui/TabPages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPoint>
#include <QResizeEvent>
#include <QStackedWidget>
#include <QTabWidget>

namespace {
const char *const kTabPosition = "tabControlPosition";
}

TabPagePlacer::TabPagePlacer(QTabWidget *tabs) : QObject(tabs), tabs_(tabs) {
    for (int i = 0; i < tabs_->count(); ++i) {
        QWidget *page = tabs_->widget(i);
        for (QWidget *child : page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            child->setProperty(kTabPosition, child->pos());
        page->installEventFilter(this);
    }
    // The page stack moves when the tab control lays itself out; the pages
    // always fill the stack.
    if (auto *stack = tabs_->findChild<QStackedWidget *>(QString(), Qt::FindDirectChildrenOnly))
        stack->installEventFilter(this);
    // Have the tab control lay out its tab row and pages now, not only when
    // it is first shown, so that positions are right from the start.
    QResizeEvent resize(tabs_->size(), tabs_->size());
    QCoreApplication::sendEvent(tabs_, &resize);
    place();
}

void TabPagePlacer::place() {
    for (int i = 0; i < tabs_->count(); ++i) {
        QWidget *page = tabs_->widget(i);
        const QPoint offset = page->mapTo(tabs_, QPoint(0, 0));
        for (QWidget *child : page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            const QVariant wanted = child->property(kTabPosition);
            if (wanted.isValid())
                child->move(wanted.toPoint() - offset);
        }
    }
}

bool TabPagePlacer::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        place();
    return QObject::eventFilter(watched, event);
}
