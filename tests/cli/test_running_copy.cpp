#include "instance/RunningCopy.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// The built program started again and again over a private home: which
// start runs, which hands over, which gives up. Every test has a home, and
// so a lock and a socket, of its own; this process shares the environment
// with the copies it starts, so runningCopyName() here names their socket.
class RunningCopyTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> home_;
    QList<QProcess *> copies_;
    QString name_; // the running copy's socket, as running() found it

    QProcess *start() {
        auto *p = new QProcess(this);
        copies_ << p;
        p->start(QStringLiteral(ZARN_PROGRAM), {QStringLiteral("-startup")});
        p->waitForStarted();
        return p;
    }
    // The exit status, or -1 while it runs after `ms`.
    static int status(QProcess *p, int ms) {
        return p->waitForFinished(ms) && p->exitStatus() == QProcess::NormalExit ? p->exitCode()
                                                                                 : -1;
    }
    static QByteArray ask(const QString &name, const QByteArray &line) {
        QLocalSocket s;
        s.connectToServer(name);
        if (!s.waitForConnected(1000))
            return "unreachable";
        s.write(line);
        return s.waitForReadyRead(5000) ? s.readLine() : "silent";
    }
    static ino_t inode(const QString &path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
    }
    // Starts the first copy and waits until it answers.
    QProcess *running() {
        QProcess *a = start();
        name_ = runningCopyName();
        QElapsedTimer t;
        t.start();
        while (ask(name_, "nothing\n") != "done nothing\n" && t.elapsed() < 30000)
            QThread::msleep(100);
        qInfo("the first copy answered after %lld ms", t.elapsed());
        return a;
    }

private slots:
    void init() {
        home_ = std::make_unique<QTemporaryDir>();
        const QByteArray home = home_->path().toUtf8();
        for (const char *v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            qputenv(v, home);
        qputenv("XDG_RUNTIME_DIR", home); // 0700, as Qt wants it
        qunsetenv("TMPDIR");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    void cleanup() {
        for (QProcess *p : std::as_const(copies_)) {
            p->kill();
            p->waitForFinished();
        }
        qDeleteAll(copies_);
        copies_.clear();
    }

    // A copy stopped (SIGSTOP) keeps the lock: the start beside it gives up
    // with status 3 and leaves its socket alone; once it goes on, the next
    // start hands over to it. Killed, it leaves the lock to the next start.
    void silentCopy() {
        QProcess *a = running();
        const ino_t socket = inode(name_);
        QVERIFY(socket != 0);
        ::kill(pid_t(a->processId()), SIGSTOP);
        QElapsedTimer t;
        t.start();
        QProcess *b = start();
        QCOMPARE(status(b, 30000), 3);
        qInfo("a start beside a stopped copy gave up after %lld ms", t.elapsed());
        QVERIFY(b->readAllStandardError().contains("the running copy does not answer"));
        QCOMPARE(inode(name_), socket);
        ::kill(pid_t(a->processId()), SIGCONT);
        QCOMPARE(status(start(), 30000), 0);
        QCOMPARE(status(a, 0), -1);

        a->kill();
        a->waitForFinished();
        QProcess *d = running();
        QCOMPARE(status(d, 0), -1);
        QCOMPARE(status(start(), 30000), 0);
        QCOMPARE(status(d, 0), -1);
    }

    // Three starts at once, three times: one runs, two hand over to it.
    void simultaneousStarts() {
        for (int round = 0; round < 3; ++round) {
            init();
            const QList<QProcess *> copies = {start(), start(), start()};
            const auto ended = [&] {
                return int(std::count_if(copies.begin(), copies.end(), [](QProcess *p) {
                    return p->state() == QProcess::NotRunning && p->exitCode() == 0;
                }));
            };
            QTRY_COMPARE_WITH_TIMEOUT(ended(), 2, 30000);
            QTest::qWait(500);
            QCOMPARE(ended(), 2);
            QVERIFY(std::any_of(copies.begin(), copies.end(),
                                [](QProcess *p) { return p->state() == QProcess::Running; }));
            cleanup();
        }
    }

    // The answer says what was done; a line the copy does not know gets an
    // error, and nothing happens.
    void answers() {
        QProcess *a = running();
        const QList<QPair<QByteArray, QByteArray>> rows = {
            {"usage\n", "done usage\n"},
            {"show\n", "done show\n"},
            {"frobnicate\n", "error unknown request\n"},
            {"ok\n", "error unknown request\n"},
            {"show\r\n", "error unknown request\n"},
        };
        for (const auto &[line, answer] : rows)
            QCOMPARE(ask(name_, line), answer);
        QCOMPARE(status(a, 0), -1);
    }

    // No runtime folder (cron, su): another user (nobody) owns Qt's fallback
    // in the temporary folder, and holds the lock and answers "ok" on the
    // name 1.2.0 used there. The start is not swallowed, and the next start
    // finds it.
    void squattedTemporaryFolder() {
        if (geteuid() != 0)
            QSKIP("runs the squatter as user nobody: root only");
        QTemporaryDir tmp;
        QVERIFY(::chmod(QFile::encodeName(tmp.path()).constData(), 01777) == 0);
        qputenv("TMPDIR", tmp.path().toUtf8());
        qunsetenv("XDG_RUNTIME_DIR");
        const QByteArray key = home_->path().toUtf8() + "\n\n0";
        const QString old =
            tmp.path() + "/zarn-bandwidth-" +
            QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16);
        auto *squatter = new QProcess(this);
        copies_ << squatter; // ended with the copies
        squatter->start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                    "/usr/bin/python3", "-c", R"(import os, socket, sys
os.mkdir(sys.argv[1]); os.chmod(sys.argv[1], 0o777)
me = (os.getpid(), os.path.basename(os.readlink("/proc/self/exe")), socket.gethostname())
open(sys.argv[2] + ".lock", "w").write("%d\n%s\n%s\n" % me)
s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[2]); os.chmod(sys.argv[2], 0o777); s.listen(8)
print("ready", flush=True)
while True:
    c = s.accept()[0]; c.recv(64); c.sendall(b"ok\n"); c.close()
)",
                                    tmp.path() + "/runtime-root", old});
        QVERIFY(squatter->waitForReadyRead(10000));
        QVERIFY(squatter->readLine().startsWith("ready"));
        QCOMPARE(ask(old, "show\n"), "ok\n");

        QProcess *a = start();
        QCOMPARE(status(a, 3000), -1);
        QCOMPARE(status(start(), 30000), 0);
        QVERIFY(runningCopyName().startsWith(home_->path() + "/.cache/"));
    }
};

QTEST_GUILESS_MAIN(RunningCopyTest)
#include "test_running_copy.moc"
