#pragma once

#include "app/CommandLine.h"

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One program per user, settings folder and desktop session. The first
// start takes a lock file and listens on a local socket (a named pipe on
// Windows) of the same name; a later start finds the lock taken, hands its
// request over the socket and ends. A lock whose process has gone (a crash,
// a SIGKILL) counts as free, and the socket it left is removed before the
// new copy listens.
class RunningCopy final : public QObject {
    Q_OBJECT
public:
    // name: runningCopyName() in the program; tests pass their own.
    explicit RunningCopy(const QString &name, QObject *parent = nullptr);
    ~RunningCopy() override;

    // true: this is the running copy now, and handedOver reports what later
    // starts ask for. false: the copy that already runs took `request`, and
    // this one should end.
    bool claim(HandOver request);

signals:
    void handedOver(HandOver request);

private:
    // Takes the socket name and listens; always true (this copy runs).
    bool serve();
    void answer(QLocalSocket *socket);

    QString name_;
    QLockFile lock_;
    QLocalServer *server_ = nullptr;
};

// The name shared by every start with the same user, settings folder and
// display: copies with settings of their own (the tests' private homes) or
// on another display never see each other. On Unix it is the socket's full
// path, in the user's runtime folder.
QString runningCopyName();
