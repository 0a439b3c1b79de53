#include "platform/linux/XcbToolWindows.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t *connection() {
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace

XcbToolWindows::XcbToolWindows() {
    qGuiApp->installEventFilter(this);
}

bool XcbToolWindows::eventFilter(QObject *watched, QEvent *event) {
    // A window's show event comes after its native window exists and before
    // Qt maps it: the state set now is there when the window manager first
    // looks at the window. Qt writes its own states (keep above) at every
    // map and keeps what it finds; the window manager drops the property
    // when the window is withdrawn (openbox does on hide()), so it is set
    // again before every show.
    if (event->type() == QEvent::Show && watched->isWindowType()) {
        const auto *window = static_cast<QWindow *>(watched);
        if (window->type() == Qt::Tool && window->handle())
            skipTaskbarAndPager(std::uint32_t(window->winId()));
    }
    return false;
}

void XcbToolWindows::skipTaskbarAndPager(std::uint32_t window) {
    xcb_connection_t *c = connection();
    if (!c)
        return;
    if (!state_) {
        const char *names[] = {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR",
                               "_NET_WM_STATE_SKIP_PAGER"};
        xcb_intern_atom_cookie_t cookies[3];
        for (int i = 0; i < 3; ++i)
            cookies[i] = xcb_intern_atom(c, 0, std::uint16_t(std::strlen(names[i])), names[i]);
        xcb_atom_t atoms[3] = {};
        for (int i = 0; i < 3; ++i)
            if (const Reply<xcb_intern_atom_reply_t> reply(
                    xcb_intern_atom_reply(c, cookies[i], nullptr), &std::free);
                reply)
                atoms[i] = reply->atom;
        if (!atoms[0] || !atoms[1] || !atoms[2])
            return;
        state_ = atoms[0], skipTaskbar_ = atoms[1], skipPager_ = atoms[2];
    }

    std::vector<xcb_atom_t> states;
    const Reply<xcb_get_property_reply_t> current(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, state_, XCB_ATOM_ATOM, 0, 64),
                               nullptr),
        &std::free);
    if (current && current->format == 32 && current->type == XCB_ATOM_ATOM) {
        const auto *begin = static_cast<const xcb_atom_t *>(xcb_get_property_value(current.get()));
        states.assign(begin, begin + xcb_get_property_value_length(current.get()) / 4);
    }
    for (const xcb_atom_t wanted : {skipTaskbar_, skipPager_})
        if (std::find(states.begin(), states.end(), wanted) == states.end())
            states.push_back(wanted);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state_, XCB_ATOM_ATOM, 32,
                        std::uint32_t(states.size()), states.data());
    xcb_flush(c);
}
