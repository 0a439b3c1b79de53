#pragma once

#include <QObject>

class QTabWidget;

// The window's controls are laid out in the tab control's own coordinates:
// a frame at (18, 32) sits 18 pixels right of and 32 pixels below the tab
// control's top left corner, whatever the height of the tab row. Qt places
// each page below its tab row, so the pages' children are shifted back by
// the page's offset, now and whenever the tab control lays its pages out
// again (a new style or font changes the height of the tab row).
class TabPagePlacer : public QObject {
    Q_OBJECT

public:
    // Records the current positions of every page's direct children as
    // positions in `tabs` coordinates and places them there.
    explicit TabPagePlacer(QTabWidget *tabs);

    void place();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTabWidget *tabs_;
};
