#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl+C, a closed
// terminal) into a normal end of the event loop, so that whatever runs
// after the loop (the last save of the usage history) still runs.
class QuitOnSignals final : public QObject {
public:
    QuitOnSignals();
    ~QuitOnSignals() override;

private:
    QSocketNotifier *notifier_ = nullptr;
};
