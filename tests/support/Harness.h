#pragma once

// What the widget tests share: a main window over the fake platform, and what
// reached the settings store and the tray host.

#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Table.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

inline const QString kAbsent = QStringLiteral("<absent>");

// A setting as the store holds it, kAbsent when there is none.
inline QString stored(const QString &key) {
    return Registry::readSetting(key, kAbsent);
}
inline void store(const QString &key, const QString &text) {
    if (text != kAbsent)
        Registry::writeSetting(key, text);
}

// What the host was asked, one word a request: "show:TIP update:TIP remove".
inline QString requestLog(const FakeTrayHost &host) {
    static const char *const kinds[] = {"show:", "update:", "remove"}; // a removal has no tip
    QStringList out;
    for (const auto &r : host.requests)
        out << QLatin1String(kinds[r.kind]) + r.tip;
    return out.join(QLatin1Char(' '));
}

// The main window over a fresh fake platform and temporary settings.
struct Rig {
    TestPlatform env;
    frmMain w;

    explicit Rig(const QString &argument = QString()) : w(env.platform(argument)) {}

    // Controls by object name: the generated form header belongs to the library.
    template <typename T = QWidget> T *get(const char *name) {
        T *found = w.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QCheckBox *box(const char *name) { return get<QCheckBox>(name); }
    QLineEdit *edit(const char *name) { return get<QLineEdit>(name); }
    QLabel *label(const char *name) { return get<QLabel>(name); }
    QString text(const char *name) { return label(name)->text(); }
    bool enabled(const char *name) { return get(name)->isEnabledTo(&w); }
};
