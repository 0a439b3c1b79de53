#pragma once

#include <QString>

// The per-user settings store: one text value per setting, written through to
// disk at once. Every call opens and closes the store; nothing is cached.
namespace Registry {

// The stored text of name, or defaultText when there is none or the stored
// value is not plain text. Never creates the store or a value.
QString readSetting(const QString &name, const QString &defaultText);

// Stores text under name and flushes it to disk before returning. A failed
// write is lost silently: the option stays applied in the running program.
void writeSetting(const QString &name, const QString &text);

} // namespace Registry
