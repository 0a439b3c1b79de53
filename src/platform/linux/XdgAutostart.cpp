#include "platform/linux/XdgAutostart.h"

XdgAutostart::XdgAutostart(QString folder) : folder_(std::move(folder)) {}

bool XdgAutostart::exists() const {
    return false;
}

void XdgAutostart::enable(const QString &) {}

void XdgAutostart::disable() {}

QString XdgAutostart::entryPath() const {
    return folder_ + QStringLiteral("/ZarnBandwidth.desktop");
}
