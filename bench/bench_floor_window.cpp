// The floor for the desktop CPU figures: an empty Qt Widgets window and one
// timer whose slot does nothing. Whatever the program costs beyond this is
// its own work; this much any Qt Widgets program pays on the same desktop.
//
//   bench_floor_window [--hidden] [--interval MS]
//
// --hidden never shows the window, for the figure of the program living in
// the tray.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    bool hidden = false;
    int interval = 300;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hidden") == 0)
            hidden = true;
        else if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc)
            interval = std::atoi(argv[++i]);
    }

    // The size of the program's main window.
    QWidget window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setFixedSize(324, 277);
    if (!hidden)
        window.show();

    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [] {});
    timer.start(interval);
    return app.exec();
}
