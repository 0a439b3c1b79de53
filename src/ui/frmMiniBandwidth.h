#pragma once

#include <QWidget>
#include <memory>

class Monitor;

namespace Ui {
class frmMiniBandwidth;
}

// The tiny always-on-top window with the monitor's two rates in k/sec,
// written while it is on screen.
class frmMiniBandwidth : public QWidget {
    Q_OBJECT

public:
    explicit frmMiniBandwidth(Monitor *monitor, QWidget *parent = nullptr);
    ~frmMiniBandwidth() override;

    std::unique_ptr<Ui::frmMiniBandwidth> ui;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showRates();
    const Monitor *monitor_;
};
