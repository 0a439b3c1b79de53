#include "usagewindow/UsageFeature.h"

#include "monitor/Monitor.h"
#include "platform/qt/SteadyClock.h"
#include "usagewindow/UsageWindow.h"

#include <QAction>
#include <QDateTime>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>

UsageFeature::Clocks UsageFeature::systemClocks() {
    // The tick's own clock: time spent in suspend counts, so the graph
    // shows the gap instead of joining the rates on both sides of it.
    static const SteadyClock clock;
    return {[] { return clock.nowNs() / 1000000; }, [] { return QDate::currentDate(); }};
}

UsageFeature::UsageFeature(UsageHistory *history, Notifier *notifier, Clocks clocks,
                           QObject *parent)
    : QObject(parent), history_(history), clocks_(std::move(clocks)),
      cap_(history, notifier, clocks_.today) {}

UsageFeature::~UsageFeature() {
    delete window_.data();
}

void UsageFeature::attach(Monitor *monitor, QAction *usage) {
    monitor_ = monitor;
    connect(monitor, &Monitor::sampled, this, &UsageFeature::sampled);
    connect(usage, &QAction::triggered, this, &UsageFeature::showWindow);
}

void UsageFeature::sampled(const TickSample &tick) {
    // A read that failed on the interface followed so far is a break in its
    // line, not a change of interface: the two minutes before it stay.
    TickSample sample = tick;
    if (sample.name.isEmpty() && sample.index != 0 && sample.index == index_)
        sample.name = interface_;
    // Another interface's rates would share the graph's scale and lines.
    if (sample.name != interface_) {
        trail_.clear();
        interface_ = sample.name;
    }
    index_ = sample.index;
    const qint64 now = clocks_.monotonicMs() - sample.lateMs;
    if (sample.hasRates)
        trail_.add(now, sample.downRate, sample.upRate);
    else
        trail_.addGap(now);
    cap_.sampled(sample);
    last_ = sample;
    if (window_ && window_->isVisible())
        window_->sampled(sample);
}

namespace {

// Time enough for a window manager to frame a new window.
constexpr int kFramedMs = 300;

// Moves the window inside the free area of the screen it is on, made smaller
// first where it is larger: at 200 % the 520 x 440 window is 1040 x 880
// pixels, taller than a 1280 x 800 screen, and a place remembered from a
// larger screen or another scale would leave its title bar out of reach.
void keepOnScreen(QWidget *window) {
    // At the size the window will be shown at: a window not shown yet has
    // not grown to what its contents need (wider fonts, a larger scale).
    if (window->layout())
        window->layout()->activate();
    const QRect frame = window->frameGeometry();
    const QScreen *screen = QGuiApplication::screenAt(frame.topLeft() + QPoint(16, 16));
    if (!screen && !(screen = window->screen()))
        return;
    const QRect area = screen->availableGeometry();
    const QSize border = frame.size() - window->size(); // the frame, once the window had one
    const QSize size = frame.size().boundedTo(area.size());
    if (size != frame.size())
        window->resize(size - border);
    // resize() keeps to the window's minimum size, which may still be larger.
    const QSize now = window->size() + border;
    window->move(std::clamp(frame.left(), area.left(),
                            std::max(area.left(), area.right() + 1 - now.width())),
                 std::clamp(frame.top(), area.top(),
                            std::max(area.top(), area.bottom() + 1 - now.height())));
}

} // namespace

void UsageFeature::showWindow() {
    const bool first = !window_;
    if (first) {
        window_ = new UsageWindow(trail_, cap_, history_, clocks_.today);
        // The live graph moves with every tick while the window is up.
        if (monitor_)
            monitor_->watch(window_);
        // A place on a screen that is no longer there would open the
        // window out of sight; the window manager places it then.
        const auto at = UsageSettings::readWindowPosition();
        if (at && QGuiApplication::screenAt(*at + QPoint(16, 16)))
            window_->move(*at);
    }
    keepOnScreen(window_);
    // Up to date at once, not only from the next tick on.
    window_->sampled(last_);
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    // An X window manager puts its frame around the window only once it is
    // shown, and its title bar could still reach past the screen's edge.
    if (first)
        QTimer::singleShot(kFramedMs, window_, [window = window_.data()] { keepOnScreen(window); });
}
