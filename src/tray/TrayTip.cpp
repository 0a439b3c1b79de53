#include "tray/TrayTip.h"

#include "monitor/RateText.h"

TrayTip TrayTip::rates(std::optional<qint64> down, std::optional<qint64> up, bool showBandwidth,
                       bool multiLine) {
    TrayTip tip;
    tip.rates_ = true;
    // Every tip that reads as the product's name is kept alike, so that a
    // tip without figures stays equal to the last one while the rates move.
    if (showBandwidth && down && up) {
        tip.down_ = down;
        tip.up_ = up;
        tip.multiLine_ = multiLine;
    }
    return tip;
}

QString TrayTip::text() const {
    if (!rates_)
        return text_;
    return RateText::trayTip(down_, up_, down_.has_value(), multiLine_);
}
