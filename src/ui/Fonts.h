#pragma once

#include <QFont>
#include <QString>

namespace Fonts {

// Makes Tahoma available to the program. Debian's fonts-wine ships free
// Tahoma faces outside fontconfig's search path, so they are registered with
// Qt directly when the system does not list the family. Safe to call often.
// Returns true when a font named Tahoma can be used.
bool ensureTahoma();

// The dialog font of both windows: Tahoma 8.25 pt, or the platform's own
// family at that size where no Tahoma exists.
QFont dialogFont();

} // namespace Fonts
