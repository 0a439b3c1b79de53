#include "settings/Registry.h"
#include "support/Fakes.h"

#include <QtTest>
#include <cstdio>

// Copies of the program changing options in one settings file at once: no
// change may be lost to another's write of an older view of the file.
namespace {

// In memory two writes really meet within one tick of the file time.
[[maybe_unused]] const bool inMemory =
    QFileInfo(QStringLiteral("/dev/shm")).isWritable() && qputenv("TMPDIR", "/dev/shm");

std::unique_ptr<QProcess> otherCopy() {
    auto p = std::make_unique<QProcess>();
    p->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--other-copy")});
    return p;
}

} // namespace

class StoreConcurrencyTest : public QObject {
    Q_OBJECT
private slots:
    // Round i of each stores i under its own key, then a mark under Shared; a third reads on.
    void twoWriters() {
        TestPlatform env;
        const std::unique_ptr<QProcess> copies[] = {otherCopy(), otherCopy()};
        for (int i = 0; i < 1000; ++i)
            copies[i % 2]->write("AB"[i % 2] + (' ' + QByteArray::number(i / 2)) + '\n');
        for (const auto &p : copies)
            p->closeWriteChannel();
        while (copies[0]->state() != QProcess::NotRunning ||
               copies[1]->state() != QProcess::NotRunning) {
            for (const auto &p : copies)
                p->waitForFinished(1);
            // Under a name of its own, so that no cached view stands in.
            QTemporaryFile copy(env.configDir() + QStringLiteral("/snapshot-XXXXXX.conf"));
            QVERIFY(copy.open() && copy.write(fileBytes(env.settingsFilePath())) >= 0);
            copy.close();
            const QSettings view(copy.fileName(), QSettings::IniFormat);
            const QString shared = view.value("Shared", "A0").toString();
            QVERIFY2(view.status() == QSettings::NoError &&
                         shared.contains(QRegularExpression("^[AB]\\d+$")),
                     qPrintable(shared));
        }
        for (const auto &p : copies) { // each round found what the one before stored
            const QList<QByteArray> answers = p->readAllStandardOutput().split('\n');
            for (int i = 1; i < 500; ++i)
                QCOMPARE(answers.value(i), QByteArray::number(i - 1));
        }
        const QSettings final(env.settingsFilePath(), QSettings::IniFormat);
        QCOMPARE(final.value("A").toString() + final.value("B").toString(), "499499");
        QVERIFY(!QFile::exists(env.settingsFilePath() + QStringLiteral(".lock")));
    }

    // Another copy's change right after this one's write, same size and file time, must be
    // seen here and kept by the next write.
    void changeWithinOneTick() {
        TestPlatform env;
        const auto other = otherCopy();
        for (int r = 0; r < 200; ++r) {
            const QByteArray theirs = QByteArray::number(r % 2);
            Registry::writeSetting(QStringLiteral("Mine"), "a" + theirs);
            other->write("Theirs " + theirs + '\n');
            QVERIFY(other->waitForReadyRead(10000) && other->canReadLine());
            QCOMPARE(other->readLine(), r ? QByteArray::number((r - 1) % 2) + '\n' : "-\n");
            QCOMPARE(Registry::readSetting(QStringLiteral("Theirs"), QString()), theirs);
            Registry::writeSetting(QStringLiteral("Other"), theirs);
        }
        other->closeWriteChannel();
        QVERIFY(other->waitForFinished(10000));
    }
};

// Another copy: a line "KEY VALUE" stores VALUE, then KEYVALUE as Shared; answers KEY's old value.
int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const bool other = app.arguments().contains(QStringLiteral("--other-copy"));
    char line[4096];
    while (other && std::fgets(line, sizeof line, stdin)) {
        const QStringList words = QString::fromUtf8(line).trimmed().split(u' ');
        const QString before = Registry::readSetting(words[0], QStringLiteral("-"));
        Registry::writeSetting(words[0], words.value(1));
        Registry::writeSetting(QStringLiteral("Shared"), words[0] + words.value(1));
        std::printf("%s\n", qPrintable(before));
        std::fflush(stdout);
    }
    StoreConcurrencyTest test;
    return other ? 0 : QTest::qExec(&test, argc, argv);
}

#include "test_store_concurrency.moc"
