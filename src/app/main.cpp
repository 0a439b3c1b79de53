#include "Version.h"
#include "app/CommandLine.h"
#include "instance/RunningCopy.h"
#include "platform/Autostart.h"
#include "platform/Notifier.h"
#include "platform/Platform.h"
#include "platform/SystemServices.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/SteadyClock.h"
#include "tray/TrayHost.h"
#include "ui/Images.h"
#include "ui/frmMain.h"
#include "usage/UsagePlatform.h"
#include "usage/UsageRecorder.h"
#include "usage/UsageReport.h"
#include "usage/UsageSettings.h"
#include "usagewindow/UsageFeature.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

// With ZARN_REPORT_SHOWN set, the first paint of the main window prints the
// monotonic clock ("shown SECONDS"; steady_clock is CLOCK_MONOTONIC on
// Linux) and ends the program: the start-up benchmark measures from outside,
// from the moment it started the process.
class ShownReporter final : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            const long long ns = std::chrono::nanoseconds(now).count();
            std::printf("shown %lld.%09lld\n", ns / 1000000000, ns % 1000000000);
            std::fflush(stdout);
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
};

// In a Wayland session with Xwayland the program runs as an X client unless
// the user chose a platform (QT_QPA_PLATFORM or -platform). Through X the
// window manager can keep the mini window above the others and tells the
// program that its window was minimised, which minimise-to-tray needs; a
// native Wayland client can have neither (xdg-shell has no "keep above" and
// no "minimised" state), and raises a window only with the compositor's
// consent. The tray is a StatusNotifierItem either way. Without Xwayland,
// Qt falls back to native Wayland.
std::vector<char *> withPreferredPlatform(int argc, char *argv[]) {
    std::vector<char *> args(argv, argv + argc);
    static char option[] = "-platform";
    static char platforms[] = "xcb;wayland";
    const bool chosen =
        qEnvironmentVariableIsSet("QT_QPA_PLATFORM") ||
        std::any_of(args.begin(), args.end(), [](const char *a) {
            return std::strcmp(a, "-platform") == 0 || std::strcmp(a, "--platform") == 0;
        });
    if (!chosen && qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsSet("DISPLAY"))
        args.insert(args.begin() + 1, {option, platforms});
    args.push_back(nullptr);
    return args;
}

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
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            platform = argv[i + 1];
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return false;
    qputenv("QT_XCB_NO_MITSHM", "1");
    return true;
}

// A copy runs but did not take the request (stopped, or hung): a second
// copy beside it would record twice, so this start ends, with status 3, and
// says why: on standard error, and in a message box when it has no terminal
// to say it on (started from a menu or the autostart entry).
int reportNoAnswer() {
    const QString text =
        QStringLiteral(
            "A copy of %1 is running but does not answer. Wait a moment and start it again, or "
            "end that copy first.")
            .arg(QString::fromUtf8(zarn::kProductName));
    std::fprintf(stderr, "zarn-bandwidth: the running copy does not answer\n");
#ifdef Q_OS_WIN
    const bool terminal = false; // a windowed program has no console
#else
    const bool terminal = isatty(STDERR_FILENO);
#endif
    const QString platform = QGuiApplication::platformName();
    if (!terminal && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::warning(nullptr, QString::fromUtf8(zarn::kProductName), text);
    return 3;
}

} // namespace

int main(int argc, char *argv[]) {
    // Taken before QApplication removes the options it knows (-platform and
    // the like): the text must be the command line as given.
    const QStringList arguments = programArguments(argc, argv);
    const CommandLine command = parseCommandLine(arguments);
    // Answered before any window or display connection exists, so that they
    // work on a console with no desktop at all, and never ask a running copy.
    switch (command.request) {
    case CommandLineRequest::Help:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLineRequest::Version:
        std::fputs(versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLineRequest::Invalid:
        std::fprintf(stderr, "%s\n", command.error.toLocal8Bit().constData());
        return 2;
    case CommandLineRequest::Usage: {
        const HistoryServices services = historyServices();
        return UsageReport::run({argumentBytes(command.interfaceName), command.json, command.bytes,
                                 UsageSettings::sizeSystem(), command.csv, command.table,
                                 command.cap},
                                *services.interfaces, *services.usage, stdout, stderr);
    }
    case CommandLineRequest::Run:
        break;
    }
    std::vector<char *> qtArgs = withPreferredPlatform(argc, argv);
    int qtArgc = int(qtArgs.size()) - 1;
    const bool plainImages = preferPlainImages(qtArgc, qtArgs.data());
    QApplication app(qtArgc, qtArgs.data());
    // Read by now; programs started from here (the browser) must not inherit it.
    if (plainImages)
        qunsetenv("QT_XCB_NO_MITSHM");
    QApplication::setOrganizationName(QString::fromUtf8(zarn::kOrganization));
    QApplication::setApplicationName(QString::fromUtf8(zarn::kProductName));
    QApplication::setApplicationVersion(QString::fromUtf8(zarn::kVersionText));
    // The program lives in the tray: closing the mini window while the main
    // window is hidden must not end it. Form_Unload ends it explicitly.
    QApplication::setQuitOnLastWindowClosed(false);
    // Every window's icon, and the picture of a balloon from a hidden tray icon.
    QApplication::setWindowIcon(Images::windowIcon());

    // A second start hands its request to the copy that runs and ends
    // before it makes a tray icon or a window of its own.
    RunningCopy runningCopy(runningCopyName());
    switch (runningCopy.claim(command.handOver)) {
    case RunningCopy::Claim::Running:
        break;
    case RunningCopy::Claim::HandedOver:
        return 0;
    case RunningCopy::Claim::NoAnswer:
        return reportNoAnswer();
    }

    const SystemServices services = systemServices();
    InterfaceSource &interfaces = *services.interfaces;
    QtMessageBoxes messages;
    SteadyClock clock;

    Platform platform;
    platform.interfaces = &interfaces;
    platform.restingInterfaces = services.restingInterfaces.get();
    platform.tray = services.tray.get();
    platform.autostart = services.autostart.get();
    platform.messages = &messages;
    platform.clock = &clock;
    platform.programPath = QApplication::applicationFilePath();
    platform.argumentText = argumentText(arguments);

    frmMain window(platform);
    ShownReporter reporter;
    if (qEnvironmentVariableIsSet("ZARN_REPORT_SHOWN"))
        window.installEventFilter(&reporter);

    // The usage history listens to the tick and reads all counters itself
    // at its own period; it saves once more as the event loop ends, be it by
    // "E&xit", the close box or the end of the session.
    UsageRecorder::Options usageOptions = UsageRecorder::optionsFromSettings();
    UsageRecorder usage(interfaces, *services.usage, usageOptions);
    QObject::connect(window.monitor, &Monitor::sampled, &usage, &UsageRecorder::sampled);
    // The readings a rest holds go to the history before its last save.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, window.monitor, &Monitor::catchUp);
    // Windows ends a session by sending aboutToQuit and then ending the
    // process: nothing after exec() would run there.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &usage, &UsageRecorder::saveNow);
    // Connected after the history, so that the data cap counts this tick.
    UsageFeature usageWindow(&usage, services.notifier.get());
    usageWindow.attach(window.monitor, window.mUsage);

    window.startUp();
    if (command.showUsage && !window.unloaded)
        usageWindow.showWindow();
    // What later starts ask for: a plain start brings the window back as
    // "Show Main" does, --show-usage the Usage window.
    QObject::connect(&runningCopy, &RunningCopy::handedOver, &window, [&](HandOver request) {
        if (request == HandOver::ShowMain)
            window.mShowDialog_Click();
        else if (request == HandOver::ShowUsage)
            usageWindow.showWindow();
    });
    // Queued behind the window's first paint: opening and checking the store
    // and the first save cost the window nothing.
    QTimer::singleShot(0, &usage, &UsageRecorder::start);
    return app.exec();
}
