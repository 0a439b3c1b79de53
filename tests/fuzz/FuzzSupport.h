#pragma once

// Shared by the fuzz targets: the locale an input picks with its first byte,
// and a check that stops the run with a readable message, so that libFuzzer
// saves the input that broke a property.

#include <QLocale>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// The first byte names the locale: 'D' German (comma decimals, dot groups),
// 'E' English, 'F' French (narrow no-break space groups), 'C' the C locale.
// Any other byte picks one of them by its value, so every input means one.
inline QLocale localeFor(std::uint8_t selector) {
    switch (selector % 4) {
    case 0:
        return QLocale(QLocale::German, QLocale::Germany);
    case 1:
        return QLocale(QLocale::English, QLocale::UnitedStates);
    case 2:
        return QLocale(QLocale::French, QLocale::France);
    default:
        return QLocale::c();
    }
}

// The input after the selector byte, as text. Bytes that are not UTF-8
// become replacement characters, as they would in a text box.
inline QString textAfterSelector(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
}

[[noreturn]] inline void fail(const char *file, int line, const char *what, const QString &text,
                              const QString &detail) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n  input text: \"%s\"\n  %s\n", file, line,
                 what, text.toUtf8().constData(), detail.toUtf8().constData());
    std::abort();
}

} // namespace fuzz

#define FUZZ_CHECK(cond, text, detail)                                                             \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::fail(__FILE__, __LINE__, #cond, (text), (detail));                             \
    } while (0)
