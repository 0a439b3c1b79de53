#include "Version.h"
#include "app/CommandLine.h"
#include "app/Platform.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "platform/linux/XdgAutostart.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/QtTrayHost.h"
#include "platform/qt/SteadyClock.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QEvent>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

// With ZARN_REPORT_SHOWN set, the first paint of the main window prints the
// monotonic clock ("shown SECONDS") and ends the program: the start-up
// benchmark measures from outside, from the moment it started the process.
class ShownReporter final : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("shown %lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
            std::fflush(stdout);
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

// Qt's X11 backing store shares its pixels with the X server through MIT-SHM
// and, before every paint, waits for the server to be done with the shared
// image: a round trip and extra wake-ups on every tick with the window
// shown. For the few small labels a tick changes, sending their pixels with
// the request costs less, and the screen shows the same pixels. Only Qt's
// X11 platform plugin reads the variable, when it connects; a value the user
// set is left alone.
bool preferPlainImages(int argc, char *argv[]) {
    if (qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        return false;
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0)
            platform = argv[i + 1];
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return false;
    qputenv("QT_XCB_NO_MITSHM", "1");
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    // Taken before QApplication removes the options it knows (-platform and
    // the like): the text must be the command line as given.
    const QString arguments = argumentText(argc, argv);
    // Answered before any window or display connection exists, so that they
    // work on a console with no desktop at all.
    switch (commandLineRequest(arguments)) {
    case CommandLineRequest::Help:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLineRequest::Version:
        std::fputs(versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLineRequest::Run:
        break;
    }
    const bool plainImages = preferPlainImages(argc, argv);
    QApplication app(argc, argv);
    // Read by now; programs started from here (the browser) must not inherit it.
    if (plainImages)
        qunsetenv("QT_XCB_NO_MITSHM");
    QApplication::setOrganizationName(QString::fromUtf8(zarn::kOrganization));
    QApplication::setApplicationName(QString::fromUtf8(zarn::kProductName));
    QApplication::setApplicationVersion(QString::fromUtf8(zarn::kVersionText));
    // The program lives in the tray: closing the mini window while the main
    // window is hidden must not end it. Form_Unload ends it explicitly.
    QApplication::setQuitOnLastWindowClosed(false);

    NetlinkInterfaceSource interfaces;
    QtTrayHost tray;
    XdgAutostart autostart;
    QtMessageBoxes messages;
    SteadyClock clock;

    Platform platform;
    platform.interfaces = &interfaces;
    platform.tray = &tray;
    platform.autostart = &autostart;
    platform.messages = &messages;
    platform.clock = &clock;
    platform.programPath = QApplication::applicationFilePath();
    platform.argumentText = arguments;

    frmMain window(platform);
    ShownReporter reporter;
    if (qEnvironmentVariableIsSet("ZARN_REPORT_SHOWN"))
        window.installEventFilter(&reporter);
    window.startUp();
    return app.exec();
}
