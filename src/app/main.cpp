#include "Version.h"
#include "app/CommandLine.h"
#include "app/Platform.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "platform/linux/XdgAutostart.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/QtTrayHost.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>

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

    NetlinkInterfaceSource interfaces;
    QtTrayHost tray;
    XdgAutostart autostart;
    QtMessageBoxes messages;

    Platform platform;
    platform.interfaces = &interfaces;
    platform.tray = &tray;
    platform.autostart = &autostart;
    platform.messages = &messages;
    platform.programPath = QApplication::applicationFilePath();
    platform.argumentText = arguments;

    frmMain window(platform);
    window.startUp();
    return app.exec();
}
