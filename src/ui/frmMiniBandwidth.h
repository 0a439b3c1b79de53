#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmMiniBandwidth;
}

// The tiny always-on-top window with the two rates. No behaviour of its own:
// the tick writes its labels.
class frmMiniBandwidth : public QWidget {
    Q_OBJECT

public:
    explicit frmMiniBandwidth(QWidget *parent = nullptr);
    ~frmMiniBandwidth() override;

    std::unique_ptr<Ui::frmMiniBandwidth> ui;
};
