#pragma once

#include "platform/MessageBoxes.h"

class QtMessageBoxes final : public MessageBoxes {
public:
    void show(QWidget *parent, const QString &text, const QString &title, Icon icon) override;
};
