#pragma once

#include "instance/HandOver.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <chrono>

class QLocalServer;
class QLocalSocket;

// One program per user, settings folder and desktop session. The first
// start takes a lock file and listens on a local socket (a named pipe on
// Windows) of the same name; a later start finds the lock taken, hands its
// request over the socket and ends. Only a lock whose process has gone (a
// crash, a SIGKILL) is taken over: a holder that lives but does not answer
// (stopped, hung) keeps it, and the later start gives up rather than run
// beside it.
class RunningCopy final : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        Running,    // this is the running copy now; handedOver reports later starts
        HandedOver, // the running copy took the request; this start ends
        NoAnswer,   // a live copy holds the lock but did not answer in time
    };

    // name: runningCopyName() in the program; tests pass their own. Empty:
    // there is no place to meet, and every start runs.
    explicit RunningCopy(const QString &name, QObject *parent = nullptr);
    ~RunningCopy() override;

    Claim claim(HandOver request, std::chrono::milliseconds patience = std::chrono::seconds(5));

signals:
    void handedOver(HandOver request);

private:
    void serve();
    void answer(QLocalSocket *socket);

    QString name_;
    QLockFile lock_;
    QLocalServer *server_ = nullptr;
};

// The name shared by every start with the same user, settings folder and
// display: copies with settings of their own (the tests' private homes) or
// on another display never see each other. On Unix it is the socket's full
// path in a folder only the user can enter, empty when there is none.
QString runningCopyName();
