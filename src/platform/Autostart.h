#pragma once

#include <QString>

// The platform edge for "start with the session": one entry per user that
// starts the program with "-startup" when the user logs in.
class Autostart {
public:
    virtual ~Autostart() = default;
    virtual bool exists() const = 0;
    // Writes the entry so that it starts the executable at programPath.
    virtual void enable(const QString &programPath) = 0;
    // Removes the entry; nothing happens when there is none.
    virtual void disable() = 0;
};
