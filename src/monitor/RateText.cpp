#include "monitor/RateText.h"

#include "Version.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace RateText {

namespace {

constexpr double kExactHalves = 4503599627370496.0; // 2^52

QLocale ungrouped(const QLocale &locale) {
    // Kept for the locale last asked for: changing a locale's number options
    // makes a private copy of it, an allocation for every number on every
    // tick otherwise.
    thread_local QLocale source = QLocale::c();
    thread_local QLocale result = QLocale::c();
    if (!(locale == source)) {
        source = locale;
        result = locale;
        result.setNumberOptions(result.numberOptions() | QLocale::OmitGroupSeparator);
    }
    return result;
}

// Digits grouped in threes with the locale's separator. Some locales group
// differently (en_IN: 1,23,45,67,890); the format is threes everywhere.
QString groupInThrees(const QString &digits, const QLocale &locale) {
    const qsizetype width = std::max<qsizetype>(1, locale.zeroDigit().size());
    const QString separator = locale.groupSeparator();
    const qsizetype count = digits.size() / width;
    // One allocation for the whole text: this runs for every value label on
    // every tick.
    QString out;
    out.reserve(digits.size() + (count - 1) / 3 * separator.size());
    const QStringView all(digits);
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0 && (count - i) % 3 == 0)
            out += separator;
        out += all.mid(i * width, width);
    }
    return out;
}

QString withSign(const QString &digits, bool negative, const QLocale &locale) {
    const QString grouped = groupInThrees(digits, locale);
    return negative ? locale.negativeSign() + grouped : grouped;
}

// The text with its group separators removed when they stand where
// groupInThrees puts them; nullopt when they do not.
std::optional<QString> withoutThrees(const QString &text, const QLocale &locale) {
    const QString separator = locale.groupSeparator();
    if (separator.isEmpty() || !text.contains(separator))
        return std::nullopt;
    qsizetype end = text.indexOf(locale.decimalPoint());
    if (end < 0)
        end = text.size();
    QString integral = text.left(end);
    QString sign;
    for (const QString &s : {locale.negativeSign(), locale.positiveSign()})
        if (!s.isEmpty() && integral.startsWith(s)) {
            sign = s;
            integral.remove(0, s.size());
            break;
        }
    const qsizetype width = std::max<qsizetype>(1, locale.zeroDigit().size());
    const QStringList groups = integral.split(separator);
    for (qsizetype i = 0; i < groups.size(); ++i) {
        const qsizetype digits = groups[i].size() / width;
        if (i == 0 ? (digits < 1 || digits > 3) : digits != 3)
            return std::nullopt;
    }
    return sign + groups.join(QString()) + text.mid(end);
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

QString wholeNumber(double value, const QLocale &locale) {
    // Below 2^52 every half is exactly representable, so a double whose
    // shortest decimal text ends in .5 is that half itself, and rounding the
    // double rounds its text: halves away from zero give roundDecimal's
    // answer without writing the number out and reading it back, on every
    // tick. Not std::round: mingw-w64's adds a half first, which takes the
    // largest double below a half up to 1. The fraction below is exact.
    if (std::fabs(value) < kExactHalves) {
        const double whole = std::floor(std::fabs(value));
        const qint64 magnitude = qint64(whole) + (std::fabs(value) - whole >= 0.5 ? 1 : 0);
        return wholeNumber(value < 0 ? -magnitude : magnitude, locale);
    }
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
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = l.toDouble(trimmed, &ok);
    // A locale that groups other than in threes does not read back the
    // labels wholeNumber writes; read them without their separators.
    if (!ok) {
        if (const auto plain = withoutThrees(trimmed, l))
            value = l.toDouble(*plain, &ok);
    }
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<QString> kiloText(const QString &rateLabel, const QLocale &locale) {
    const auto value = readNumber(rateLabel, locale);
    if (!value)
        return std::nullopt;
    // A whole number of bytes below 10^15 over 1000 has at most 15
    // significant digits, so its shortest decimal text is exactly n/1000 and
    // roundDecimal rounds its third decimal: the hundredths are (n + 5) / 10,
    // in integers, and the double nearest to them is one division away.
    if (std::fabs(*value) < 1e15 && *value == std::trunc(*value)) {
        const qint64 n = qint64(*value);
        const qint64 hundredths = (n < 0 ? -n + 5 : n + 5) / 10;
        const double rounded = double(n < 0 ? -hundredths : hundredths) / 100.0;
        return ungrouped(locale).toString(rounded == 0 ? 0.0 : rounded, 'f', 2);
    }
    return twoDecimals(*value / 1000.0, locale);
}

QString trayTip(const QString &downLabel, const QString &upLabel, bool showBandwidth,
                bool multiLine, const QLocale &locale) {
    const auto down = kiloText(downLabel, locale);
    const auto up = kiloText(upLabel, locale);
    if (!showBandwidth || !down || !up)
        return QString::fromUtf8(zarn::kProductName);
    const QString separator = multiLine ? QStringLiteral("\r\n") : QStringLiteral(" - ");
    return QStringLiteral("Bandwidth") + separator + QStringLiteral("Down: ") + *down +
           QStringLiteral(" k/sec") + separator + QStringLiteral("Up: ") + *up +
           QStringLiteral(" k/sec");
}

} // namespace RateText
