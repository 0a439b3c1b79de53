#include "instance/RunningCopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// One line each way: the request, then the running copy's "ok" once it has
// acted on it.
QByteArray requestLine(HandOver request) {
    switch (request) {
    case HandOver::Nothing:
        return "nothing\n";
    case HandOver::ShowMain:
        return "show\n";
    case HandOver::ShowUsage:
        return "usage\n";
    }
    return {};
}

QString lockPath(const QString &name) {
#ifdef Q_OS_WIN
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
#else
    return name + QStringLiteral(".lock");
#endif
}

enum class Delivery { Answered, Unanswered, Unreachable };

Delivery handOver(const QString &name, HandOver request) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000))
        return Delivery::Unreachable;
#ifdef Q_OS_WIN
    // Windows lets only the program the user just started take the
    // foreground; this start passes that on to the running copy, which
    // raises its window in its stead.
    AllowSetForegroundWindow(ASFW_ANY);
#endif
    socket.write(requestLine(request));
    // The system accepts the connection even for a copy that hangs: only its
    // answer tells that it acted on the request.
    return socket.waitForBytesWritten(1000) && socket.waitForReadyRead(5000) &&
                   socket.readLine() == "ok\n"
               ? Delivery::Answered
               : Delivery::Unanswered;
}

} // namespace

QString runningCopyName() {
    // On Windows the settings live in the user's registry hive; on Unix
    // QSettings keeps them under the configuration folder, which tests and
    // users may point elsewhere with XDG_CONFIG_HOME. The user's id keeps
    // users apart where their sockets share /tmp.
    QByteArray key =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toUtf8();
    key += '\n' +
           qgetenv(qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? "WAYLAND_DISPLAY" : "DISPLAY");
#ifdef Q_OS_WIN
    // The same user may be logged in twice (at the console and over remote
    // desktop): each session has a desktop, and a copy, of its own.
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    key += '\n' + QByteArray::number(qulonglong(session));
#else
    key += '\n' + QByteArray::number(qulonglong(getuid()));
#endif
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
#ifdef Q_OS_WIN
    // Pipe names are seen by the whole machine: the user's name keeps two
    // users' copies apart.
    return QStringLiteral("zarn-bandwidth-%1-%2").arg(qEnvironmentVariable("USERNAME"), hash);
#else
    // The runtime folder is the user's own (mode 0700) and emptied at
    // logout; /tmp serves where there is none.
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/zarn-bandwidth-") + hash;
#endif
}

RunningCopy::RunningCopy(const QString &name, QObject *parent)
    : QObject(parent), name_(name), lock_(lockPath(name)) {
    // Age alone never makes the lock stale: only a holder that is no longer
    // running (QLockFile checks its process id, host and boot) does.
    lock_.setStaleLockTime(0);
}

RunningCopy::~RunningCopy() = default;

bool RunningCopy::claim(HandOver request) {
    // The copy that holds the lock listens a moment later: a start that
    // comes in between tries again for a few seconds.
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (lock_.tryLock(0))
            return serve();
        if (lock_.error() != QLockFile::LockFailedError) {
            qWarning("zarn-bandwidth: no lock can be taken in %s: later starts will not find "
                     "this copy",
                     qPrintable(QDir::toNativeSeparators(lockPath(name_))));
            return true;
        }
        const Delivery delivery = handOver(name_, request);
        if (delivery == Delivery::Answered)
            return false;
        if (delivery == Delivery::Unanswered) {
            // Better a second copy than none: a copy that holds the lock
            // and never answers (stopped in a debugger, hung) must not
            // keep the user out.
            qWarning("zarn-bandwidth: the running copy does not answer; starting another");
            return true;
        }
        QThread::msleep(100);
    }
    // A lock whose holder never listened in all that time is a crashed
    // copy's, although a live process now has its number (Wine gives the
    // same few numbers again after its server ended): this copy takes over.
    lock_.removeStaleLockFile();
    return lock_.tryLock(0) ? serve() : true;
}

bool RunningCopy::serve() {
    // A copy that crashed leaves its socket file behind; the lock says that
    // no copy uses it any more.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_->nextPendingConnection())
            answer(socket);
    });
    // Where the system cannot limit the socket to the user, it serves with
    // the default access rather than not at all.
    if (!server_->listen(name_)) {
        server_->setSocketOptions(QLocalServer::NoOptions);
        if (!server_->listen(name_))
            qWarning("zarn-bandwidth: later starts cannot reach this one: %s",
                     qPrintable(server_->errorString()));
    }
    return true;
}

void RunningCopy::answer(QLocalSocket *socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that connects and says nothing is dropped after a while.
    QTimer::singleShot(5000, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > 64)
                socket->abort();
            return;
        }
        const QByteArray line = socket->readLine();
        for (HandOver request : {HandOver::Nothing, HandOver::ShowMain, HandOver::ShowUsage})
            if (line == requestLine(request))
                emit handedOver(request);
        socket->write("ok\n");
        socket->flush();
        socket->disconnectFromServer();
    });
}
