#pragma once

#include <QString>

class QWidget;

// The platform edge for modal message boxes, so that tests can answer them.
class MessageBoxes {
public:
    enum class Icon { None, Stop };
    virtual ~MessageBoxes() = default;
    // Shows a modal box with a single OK button and returns when it is closed.
    virtual void show(QWidget *parent, const QString &text, const QString &title, Icon icon) = 0;
};
