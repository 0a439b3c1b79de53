#pragma once

// Makes a file or folder refuse every change for as long as the object
// lives, whoever runs the test. Permission bits do not stop root, so as root
// the immutable attribute (chattr +i) is set instead; it stops root too.
// works() tells whether the path really refuses a change; a test that
// cannot get there skips.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <unistd.h>

class Immutable {
public:
    explicit Immutable(QString path) : path_(std::move(path)) {
        asRoot_ = ::geteuid() == 0;
        if (asRoot_) {
            set_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
        } else {
            oldPermissions_ = QFile::permissions(path_);
            set_ = QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                    QFileDevice::ReadGroup | QFileDevice::ExeGroup);
        }
    }
    ~Immutable() { release(); }
    Immutable(const Immutable &) = delete;
    Immutable &operator=(const Immutable &) = delete;

    void release() {
        if (!set_)
            return;
        if (asRoot_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        else
            QFile::setPermissions(path_, oldPermissions_);
        set_ = false;
    }

    // Whether a change is really refused: a new file in the folder, or an
    // append to the file, must fail.
    bool works() const {
        if (!set_)
            return false;
        if (QFileInfo(path_).isDir()) {
            const QString probe = path_ + QStringLiteral("/.immutable-probe");
            QFile f(probe);
            if (f.open(QIODevice::WriteOnly)) {
                f.close();
                QFile::remove(probe);
                return false;
            }
            return true;
        }
        QFile f(path_);
        return !f.open(QIODevice::Append);
    }

    // How the path was made unchangeable, for the test's log.
    const char *how() const { return asRoot_ ? "chattr +i (root)" : "read-only mode bits"; }

private:
    QString path_;
    bool asRoot_ = false;
    bool set_ = false;
    QFileDevice::Permissions oldPermissions_;
};
