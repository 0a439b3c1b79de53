#include "instance/RunningCopy.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// One line each way: the request's word, then the running copy's answer,
// "done WORD" once it has acted on it, or "error ..." for a line it does
// not know.
QByteArray word(HandOver request) {
    switch (request) {
    case HandOver::Nothing:
        return "nothing";
    case HandOver::ShowMain:
        return "show";
    case HandOver::ShowUsage:
        return "usage";
    }
    return {};
}

QByteArray answerLine(HandOver request) {
    return "done " + word(request) + '\n';
}

QString lockPath(const QString &name) {
#ifdef Q_OS_WIN
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
#else
    return name + QStringLiteral(".lock");
#endif
}

bool handOver(const QString &name, HandOver request, QDeadlineTimer deadline) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(int(qMin<qint64>(deadline.remainingTime(), 1000))))
        return false;
#ifdef Q_OS_WIN
    // Windows lets only the program the user just started take the
    // foreground; this start passes that on to the running copy, which
    // raises its window in its stead.
    AllowSetForegroundWindow(ASFW_ANY);
#endif
    socket.write(word(request) + '\n');
    // The system accepts the connection even for a copy that is stopped or
    // hangs: only its answer tells that it acted on the request.
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())) ||
        !socket.waitForReadyRead(int(deadline.remainingTime())))
        return false;
    const QByteArray answer = socket.readLine();
    // "ok" is what 1.2.0 answered: a copy started before an upgrade is
    // still found.
    return answer == answerLine(request) || answer == "ok\n";
}

#ifdef Q_OS_WIN
// QLockFile counts a lock as stale once no process has its id, or the
// process with that id is another program. Wine gives the same few ids
// again after its server ended, often to this very start, so the lock of a
// copy that ended with Wine can name a live Zarn Bandwidth. The real holder
// was running before it wrote the lock: a process with its id that started
// later (after a reboot, or after Wine's server came back) is someone else.
bool heldByLaterProcess(const QLockFile &lock, const QString &path) {
    qint64 pid = 0;
    QString host, program;
    if (!lock.getLockInfo(&pid, &host, &program))
        return false;
    if (DWORD(pid) == GetCurrentProcessId())
        return true;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return false; // gone, or not ours to look at: QLockFile's own check decides
    FILETIME created, exited, kernel, user;
    const bool known = GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);
    // FILETIME counts 100 ns steps from 1601.
    const qint64 startedMs =
        qint64(((quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime) / 10000) -
        11644473600000LL;
    return known && startedMs > QFileInfo(path).lastModified().toMSecsSinceEpoch();
}
#else
// Qt's runtime folder: XDG_RUNTIME_DIR, else /tmp/runtime-USER, which Qt
// makes 0700 and refuses when another user owns it or others may enter it.
// Refused (someone else took that name in /tmp first), a folder in the
// user's own cache folder serves, checked the same way. A shared name in
// /tmp would let another user hold the lock and answer for this user.
QString privateFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString folder = cache + QStringLiteral("/zarn-bandwidth");
    QDir().mkpath(cache);
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 07777) != 0700) {
        qWarning("zarn-bandwidth: %s is not a folder of this user's alone (mode 0700): every "
                 "start runs a copy of its own",
                 path.constData());
        return {};
    }
    return folder;
}
#endif

} // namespace

QString runningCopyName() {
    // On Windows the settings live in the user's registry hive; on Unix
    // QSettings keeps them under the configuration folder, which tests and
    // users may point elsewhere with XDG_CONFIG_HOME.
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
#endif
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
#ifdef Q_OS_WIN
    // Pipe names are seen by the whole machine: the user's name keeps two
    // users' copies apart.
    return QStringLiteral("zarn-bandwidth-%1-%2").arg(qEnvironmentVariable("USERNAME"), hash);
#else
    const QString folder = privateFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/zarn-bandwidth-") + hash;
#endif
}

RunningCopy::RunningCopy(const QString &name, QObject *parent)
    : QObject(parent), name_(name), lock_(lockPath(name)) {
    // Age alone never makes the lock stale: only a holder that is no longer
    // running (QLockFile checks its process id and program) does.
    lock_.setStaleLockTime(0);
}

RunningCopy::~RunningCopy() {
    // The socket goes before the lock is freed: the next holder must not
    // find a socket that is still this copy's.
    delete server_;
}

RunningCopy::Claim RunningCopy::claim(HandOver request, std::chrono::milliseconds patience) {
    if (name_.isEmpty())
        return Claim::Running;
    // The copy that holds the lock listens a moment after taking it, and
    // answers once its event loop runs: a start that comes in between tries
    // again until its patience runs out. A holder that dies meanwhile frees
    // the lock for this start.
    const QDeadlineTimer deadline(patience);
    for (;;) {
        if (lock_.tryLock(0)) {
            serve();
            return Claim::Running;
        }
        if (lock_.error() != QLockFile::LockFailedError) {
            qWarning("zarn-bandwidth: no lock can be taken in %s: later starts will not find "
                     "this copy",
                     qPrintable(QDir::toNativeSeparators(lockPath(name_))));
            return Claim::Running;
        }
#ifdef Q_OS_WIN
        if (heldByLaterProcess(lock_, lockPath(name_)) && lock_.removeStaleLockFile())
            continue;
#endif
        if (deadline.hasExpired())
            return Claim::NoAnswer;
        if (handOver(name_, request, deadline))
            return Claim::HandedOver;
        QThread::msleep(100);
    }
}

void RunningCopy::serve() {
    // Holding the lock, this copy is the only one that may listen. A socket
    // file found at the name is a crashed copy's, as long as nobody answers
    // there: only then is it removed.
    if (QFileInfo::exists(name_)) {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (!probe.waitForConnected(1000) && probe.error() == QLocalSocket::ConnectionRefusedError)
            QLocalServer::removeServer(name_);
    }
    server_ = new QLocalServer(this);
#ifndef Q_OS_WIN
    // The folder is the user's alone already; the socket says so too. Not
    // on Windows: a pipe with a security descriptor of its own leaves
    // Wine's event loop waking for nothing, and the name holds the user's.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
#endif
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
        QByteArray reply = "error unknown request\n";
        for (HandOver request : {HandOver::Nothing, HandOver::ShowMain, HandOver::ShowUsage})
            if (line == word(request) + '\n') {
                emit handedOver(request);
                reply = answerLine(request);
            }
        socket->write(reply);
        socket->flush();
        socket->disconnectFromServer();
    });
}
