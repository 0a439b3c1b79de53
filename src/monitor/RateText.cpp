#include "monitor/RateText.h"

#include "Version.h"

#include <algorithm>
#include <cmath>

namespace RateText {

namespace {

constexpr double kExactHalves = 4503599627370496.0; // 2^52

QLocale ungrouped(const QLocale &locale) {
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
    return l;
}

// The locale's digits grouped in threes with its separator, the sign in
// front. Some locales group differently (en_IN: 1,23,45,67,890); the format
// is threes everywhere.
QString withSign(const QString &digits, bool negative, const QLocale &locale) {
    const qsizetype width = std::max<qsizetype>(1, locale.zeroDigit().size());
    const qsizetype count = digits.size() / width;
    QString out = negative ? locale.negativeSign() : QString();
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0 && (count - i) % 3 == 0)
            out += locale.groupSeparator();
        out += QStringView(digits).mid(i * width, width);
    }
    return out;
}

} // namespace

QString roundDecimal(double value, int decimals) {
    if (!std::isfinite(value))
        return QString::number(value);
    // The shortest text that reads back as the same double: this is the
    // decimal number the value stands for, so ties are judged on it.
    const QString shortest = QString::number(std::fabs(value), 'f', QLocale::FloatingPointShortest);
    const qsizetype point = shortest.indexOf(QLatin1Char('.'));
    QString integral = point < 0 ? shortest : shortest.left(point);
    QString fraction = point < 0 ? QString() : shortest.mid(point + 1);

    bool roundUp = false;
    if (fraction.size() > decimals) {
        roundUp = fraction.at(decimals) >= QLatin1Char('5');
        fraction.truncate(decimals);
    }
    while (fraction.size() < decimals)
        fraction.append(QLatin1Char('0'));

    QString digits = integral + fraction;
    if (roundUp) {
        qsizetype i = digits.size() - 1;
        for (; i >= 0; --i) {
            if (digits[i] == QLatin1Char('9')) {
                digits[i] = QLatin1Char('0');
            } else {
                digits[i] = QChar(digits[i].unicode() + 1);
                break;
            }
        }
        if (i < 0)
            digits.prepend(QLatin1Char('1'));
    }
    integral = digits.left(digits.size() - decimals);
    fraction = digits.right(decimals);

    QString text = integral;
    if (decimals > 0)
        text += QLatin1Char('.') + fraction;
    const bool zero =
        std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c == QLatin1Char('0'); });
    if (value < 0 && !zero)
        text.prepend(QLatin1Char('-'));
    return text;
}

QString wholeNumber(qint64 value, const QLocale &locale) {
    // The magnitude as an unsigned number, so that the lowest value has one.
    const quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    return withSign(ungrouped(locale).toString(magnitude), value < 0, locale);
}

std::optional<qint64> roundedWhole(double value) {
    // Below 2^52 every half is exactly representable, so a double whose
    // shortest decimal text ends in .5 is that half itself, and rounding the
    // double rounds its text: halves away from zero give roundDecimal's
    // answer without writing the number out and reading it back, on every
    // tick. Not std::round: mingw-w64's adds a half first, which takes the
    // largest double below a half up to 1. The fraction below is exact.
    if (!(std::fabs(value) < kExactHalves))
        return std::nullopt;
    const double whole = std::floor(std::fabs(value));
    const qint64 magnitude = qint64(whole) + (std::fabs(value) - whole >= 0.5 ? 1 : 0);
    return value < 0 ? -magnitude : magnitude;
}

QString wholeNumber(double value, const QLocale &locale) {
    if (const auto whole = roundedWhole(value))
        return wholeNumber(*whole, locale);
    const QString rounded = roundDecimal(value, 0);
    bool ok = false;
    const qint64 whole = rounded.toLongLong(&ok);
    if (ok)
        return wholeNumber(whole, locale);
    // Beyond 64 bits.
    const double big = rounded.toDouble();
    return withSign(ungrouped(locale).toString(std::fabs(big), 'f', 0), big < 0, locale);
}

QString twoDecimals(double value, const QLocale &locale) {
    // The rounded decimal text converts to the double nearest to it, which
    // the locale then writes back with the same two decimals.
    return ungrouped(locale).toString(roundDecimal(value, 2).toDouble(), 'f', 2);
}

std::optional<double> readNumber(const QString &text, const QLocale &locale) {
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() & ~QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = l.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString kiloText(qint64 bytesPerSecond, const QLocale &locale) {
    return twoDecimals(double(bytesPerSecond) / 1000.0, locale);
}

QString figureText(std::optional<qint64> bytes) {
    return bytes ? wholeNumber(*bytes) : QString();
}

QString figureText(std::optional<double> bytesPerSecond) {
    return bytesPerSecond ? wholeNumber(*bytesPerSecond) : QString();
}

QString trayTip(std::optional<qint64> down, std::optional<qint64> up, bool showBandwidth,
                bool multiLine, const QLocale &locale) {
    if (!showBandwidth || !down || !up)
        return QString::fromUtf8(zarn::kProductName);
    const QString separator = QLatin1String(multiLine ? "\r\n" : " - ");
    return QLatin1String("Bandwidth") + separator + QLatin1String("Down: ") +
           kiloText(*down, locale) + QLatin1String(" k/sec") + separator + QLatin1String("Up: ") +
           kiloText(*up, locale) + QLatin1String(" k/sec");
}

} // namespace RateText
