#pragma once

#include <QObject>
#include <cstdint>

// Keeps tool windows (Qt::Tool: the mini window) off the taskbar and the
// pager under X11, as Windows does for its tool windows. Qt gives a tool
// window the utility type, which panels that go by the window's state
// (XFCE's tasklist among them) still list; only _NET_WM_STATE_SKIP_TASKBAR
// and _NET_WM_STATE_SKIP_PAGER keep it out. Created only on Qt's X11
// platform.
class XcbToolWindows final : public QObject {
public:
    XcbToolWindows();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void skipTaskbarAndPager(std::uint32_t window);

    std::uint32_t state_ = 0, skipTaskbar_ = 0, skipPager_ = 0; // atoms, once known
};
