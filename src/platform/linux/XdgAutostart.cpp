#include "platform/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

XdgAutostart::XdgAutostart(QString folder) : folder_(std::move(folder)) {}

QString XdgAutostart::folder() const {
    if (!folder_.isEmpty())
        return folder_;
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = !config.isEmpty() && QDir::isAbsolutePath(config)
                             ? config
                             : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString XdgAutostart::entryPath() const {
    return folder() + QStringLiteral("/ZarnBandwidth.desktop");
}

bool XdgAutostart::exists() const {
    // A link counts by what it points at: a link to a file is an entry, a
    // dangling one is none.
    return QFileInfo(entryPath()).isFile();
}

QString XdgAutostart::execArgument(const QString &argument) {
    // Command-line level: always double-quoted, so that blanks and every
    // other reserved character stay inside the one argument; inside the
    // quotes ", `, $ and \ take a backslash. A literal % must be doubled, or
    // a launcher takes it for a field code.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';

    // Key-file level: the value is a string, where a backslash is itself
    // escaped and control characters have their escapes.
    QString value;
    for (const QChar c : quoted) {
        switch (c.unicode()) {
        case u'\\':
            value += QStringLiteral("\\\\");
            break;
        case u'\n':
            value += QStringLiteral("\\n");
            break;
        case u'\t':
            value += QStringLiteral("\\t");
            break;
        case u'\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

QByteArray XdgAutostart::entryText(const QString &programPath) {
    const QString exec =
        execArgument(QFileInfo(programPath).absoluteFilePath()) + QStringLiteral(" -startup");
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Zarn Bandwidth\n");
    text += QStringLiteral("Comment=Network bandwidth monitor in the notification area\n");
    text += QStringLiteral("Exec=") + exec + u'\n';
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

void XdgAutostart::enable(const QString &programPath) {
    const QString dir = folder();
    QDir().mkpath(dir); // a failure shows up as a failed open below
    const QString path = entryPath();
    const QFileInfo existing(path);
    if (existing.isDir())
        return;
    // A save through a link would overwrite the file it points at; the link
    // goes, and our own file takes its place.
    if (existing.isSymLink() && !QFile::remove(path))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(entryText(programPath));
    file.commit(); // renames into place only when everything was written
}

void XdgAutostart::disable() {
    // QFile::remove takes a link away, never what it points at, and fails
    // on a folder.
    QFile::remove(entryPath());
}
