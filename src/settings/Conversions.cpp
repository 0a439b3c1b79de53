#include "settings/Conversions.h"

#include <cmath>
#include <limits>

namespace Conversions {

std::optional<double> textToNumber(const QString &text, const QLocale &locale) {
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<bool> textToFlag(const QString &text, const QLocale &locale) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto n = textToNumber(t, locale))
        return *n != 0.0;
    return std::nullopt;
}

namespace {

template <typename Int> std::optional<Int> toInteger(const QString &text, const QLocale &locale) {
    const auto n = textToNumber(text, locale);
    if (!n)
        return std::nullopt;
    const double rounded = std::nearbyint(*n); // default rounding: half to even
    if (rounded < double(std::numeric_limits<Int>::min()) ||
        rounded > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(rounded);
}

} // namespace

std::optional<qint16> textToInt16(const QString &text, const QLocale &locale) {
    return toInteger<qint16>(text, locale);
}

std::optional<qint32> textToInt32(const QString &text, const QLocale &locale) {
    return toInteger<qint32>(text, locale);
}

QString intToText(qint64 value) {
    return QString::number(value);
}

QString checkStateToText(Qt::CheckState state) {
    switch (state) {
    case Qt::Unchecked:
        return QStringLiteral("0");
    case Qt::Checked:
        return QStringLiteral("1");
    case Qt::PartiallyChecked:
        return QStringLiteral("2");
    }
    return QStringLiteral("0");
}

std::optional<qint32> textToWholeInt32(const QString &text, const QLocale &locale) {
    const auto n = textToNumber(text, locale);
    if (!n || std::trunc(*n) != *n)
        return std::nullopt;
    return toInteger<qint32>(text, locale);
}

std::optional<Qt::CheckState> textToCheckState(const QString &text, const QLocale &locale) {
    const auto n = textToWholeInt32(text, locale);
    if (!n)
        return std::nullopt;
    switch (*n) {
    case 0:
        return Qt::Unchecked;
    case 1:
        return Qt::Checked;
    case 2:
        return Qt::PartiallyChecked;
    default:
        return std::nullopt;
    }
}

Frequency checkFrequency(const QString &text, const QLocale &locale) {
    const auto v = textToNumber(text, locale);
    if (!v)
        return {FrequencyCheck::NotNumeric, 0};
    if (*v < kMinFrequency || *v > kMaxFrequency)
        return {FrequencyCheck::OutOfRange, 0};
    // Within 1..60000 the rounded value always fits the interval type.
    return {FrequencyCheck::Ok, static_cast<qint32>(std::nearbyint(*v))};
}

QString adapterToText(qint32 index) {
    return index < 0 ? QString::number(index) : QLatin1Char(' ') + QString::number(index);
}

QString interfaceNameToText(const QByteArray &name) {
    // Most names are plain text and are stored as they read. The others
    // (bytes that are not UTF-8, or a '%' that would read as an escape) have
    // every byte outside printable ASCII, and every '%', written as %XX.
    const QString text = QString::fromUtf8(name);
    if (!name.contains('%') && text.toUtf8() == name)
        return text;
    QByteArray printable;
    for (char c = 0x21; c < 0x7F; ++c)
        if (c != '%')
            printable.append(c);
    return QString::fromLatin1(name.toPercentEncoding(printable));
}

QByteArray textToInterfaceName(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    return text.contains(QLatin1Char('%')) ? QByteArray::fromPercentEncoding(bytes) : bytes;
}

} // namespace Conversions
