// The floor for the desktop CPU figures: an empty Qt Widgets window and one
// timer whose slot does nothing. Whatever the program costs beyond this is
// its own work; this much any Qt Widgets program pays on the same desktop.
//
//   bench_floor_window [--hidden] [--labels | --repaint] [--interval MS]
//
// --hidden never shows the window, for the figure of the program living in
// the tray. --labels puts four framed labels of the program's size in the
// window and gives each a new number on every tick: what Qt costs for the
// least a window showing four changing values can do. --repaint has one
// label-sized patch of plain colour repainted on every tick, no text at all:
// what Qt and the X server round trip cost for any change on screen.

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    bool hidden = false;
    bool labels = false;
    bool repaint = false;
    int interval = 300;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hidden") == 0)
            hidden = true;
        else if (std::strcmp(argv[i], "--labels") == 0)
            labels = true;
        else if (std::strcmp(argv[i], "--repaint") == 0)
            repaint = true;
        else if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc)
            interval = std::atoi(argv[++i]);
    }

    // The size of the program's main window.
    QWidget window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setFixedSize(324, 277);
    std::vector<QLabel *> values;
    if (labels) {
        const int widths[] = {155, 155, 93, 93};
        for (int i = 0; i < 4; ++i) {
            auto *label = new QLabel(&window);
            label->setGeometry(60, 100 + 22 * i, widths[i], 17);
            label->setFrameShape(QFrame::Box);
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            label->setAutoFillBackground(true);
            values.push_back(label);
        }
    }
    QWidget patch(&window);
    patch.setGeometry(60, 100, 93, 17);
    patch.setAutoFillBackground(true);
    patch.setVisible(repaint);
    if (!hidden)
        window.show();

    QTimer timer;
    qint64 tick = 0;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        ++tick;
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i]->setText(QLocale().toString(tick * 262733 + qint64(i) * 7919));
        if (repaint)
            patch.update();
    });
    timer.start(interval);
    return app.exec();
}
