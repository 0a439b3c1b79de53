#include "Version.h"
#include "adapters/InterfaceSource.h"
#include "app/Autostart.h"
#include "app/CommandLine.h"
#include "app/Platform.h"
#include "app/SystemServices.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/SteadyClock.h"
#include "tray/TrayHost.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QEvent>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {

// With ZARN_REPORT_SHOWN set, the first paint of the main window prints the
// monotonic clock ("shown SECONDS") and ends the program: the start-up
// benchmark measures from outside, from the moment it started the process.
class ShownReporter final : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            // steady_clock is CLOCK_MONOTONIC on Linux, the clock the
            // benchmark reads when it starts the process.
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
            std::printf("shown %lld.%09lld\n", static_cast<long long>(ns / 1000000000),
                        static_cast<long long>(ns % 1000000000));
            std::fflush(stdout);
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

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
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf8(zarn::kOrganization));
    QApplication::setApplicationName(QString::fromUtf8(zarn::kProductName));
    QApplication::setApplicationVersion(QString::fromUtf8(zarn::kVersionText));
    // The program lives in the tray: closing the mini window while the main
    // window is hidden must not end it. Form_Unload ends it explicitly.
    QApplication::setQuitOnLastWindowClosed(false);

    const SystemServices services = systemServices();
    QtMessageBoxes messages;
    SteadyClock clock;

    Platform platform;
    platform.interfaces = services.interfaces.get();
    platform.tray = services.tray.get();
    platform.autostart = services.autostart.get();
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
