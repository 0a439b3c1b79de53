#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// A tray tip as the tick describes it: the two rates it shows, or a fixed
// text. The text is written only when somebody reads it. Under traffic the
// tip changes on every tick, and an XEmbed icon shows it only while the
// pointer rests on the icon, so most tips are never read; two tips compare
// without writing either.
class TrayTip {
public:
    TrayTip() = default;
    // A fixed text (the product's name while nothing is measured).
    TrayTip(const QString &text) : text_(text) {} // NOLINT(google-explicit-constructor)

    // The rate labels' numbers in bytes per second. Without both, or without
    // the bandwidth wanted in the tip, it is the product's name.
    static TrayTip rates(std::optional<qint64> down, std::optional<qint64> up, bool showBandwidth,
                         bool multiLine);

    QString text() const;

    // Equal tips read the same. A fixed text and the rates that would write
    // it compare unequal, which costs one needless update at most.
    bool operator==(const TrayTip &) const = default;

private:
    QString text_;
    bool rates_ = false;
    bool multiLine_ = false;
    std::optional<qint64> down_, up_;
};
