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

// What writing a number by hand needs of a locale, kept for the locale last
// asked for: each of these is a new string every time the locale is asked.
struct Symbols {
    QLocale source = QLocale::c();
    bool asciiDigits = true;
    QString decimalPoint = QStringLiteral(".");
    QString negativeSign = QStringLiteral("-");
    QString groupSeparator = QStringLiteral(",");
};

const Symbols &symbols(const QLocale &locale) {
    thread_local Symbols kept;
    if (!(locale == kept.source)) {
        kept.source = locale;
        kept.asciiDigits = locale.zeroDigit() == QLatin1String("0");
        kept.decimalPoint = locale.decimalPoint();
        kept.negativeSign = locale.negativeSign();
        kept.groupSeparator = locale.groupSeparator();
    }
    return kept;
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
    quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    const Symbols &s = symbols(locale);
    if (!s.asciiDigits)
        return withSign(ungrouped(locale).toString(magnitude), value < 0, locale);
    // Written here for locales with ASCII digits, in one allocation: these
    // are the main window's four figures on every tick.
    char digits[20];
    char *const end = digits + sizeof digits;
    char *p = end;
    do
        *--p = char('0' + magnitude % 10);
    while ((magnitude /= 10) != 0);
    const qsizetype count = end - p;
    QString text;
    text.reserve(s.negativeSign.size() + count + (count - 1) / 3 * s.groupSeparator.size());
    if (value < 0)
        text.append(s.negativeSign);
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0 && (count - i) % 3 == 0)
            text.append(s.groupSeparator);
        text.append(QLatin1Char(p[i]));
    }
    return text;
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

namespace {

// A whole number of bytes below 10^15 over 1000 has at most 15 significant
// digits, so its shortest decimal text is exactly n/1000 and roundDecimal
// rounds its third decimal: the hundredths are (n + 5) / 10, in integers, and
// the double nearest to them is one division away.
constexpr double kExactThousandths = 1e15;

QString kiloOfWhole(qint64 n, const QLocale &locale) {
    const qint64 hundredths = (n < 0 ? -n + 5 : n + 5) / 10;
    // Locales that write ASCII digits get the digits written here: this is
    // the tray tip's text on every tick, and the double conversion behind
    // the locale's own writing is most of what the tip costs.
    const Symbols &s = symbols(locale);
    if (!s.asciiDigits) {
        const double rounded = double(n < 0 ? -hundredths : hundredths) / 100.0;
        return ungrouped(locale).toString(rounded == 0 ? 0.0 : rounded, 'f', 2);
    }
    char digits[24];
    char *const end = digits + sizeof digits;
    char *p = end;
    qint64 rest = hundredths;
    for (int i = 0; i < 3 || rest > 0; ++i, rest /= 10)
        *--p = char('0' + rest % 10);
    const bool negative = n < 0 && hundredths != 0;
    QString text;
    text.reserve(s.negativeSign.size() + (end - p) + s.decimalPoint.size());
    if (negative)
        text.append(s.negativeSign);
    text.append(QLatin1String(p, end - p - 2)).append(s.decimalPoint);
    return text.append(QLatin1String(end - 2, 2));
}

QString tipText(const std::optional<QString> &down, const std::optional<QString> &up,
                bool showBandwidth, bool multiLine) {
    if (!showBandwidth || !down || !up)
        return QString::fromUtf8(zarn::kProductName);
    const QLatin1String separator(multiLine ? "\r\n" : " - ");
    QString tip;
    tip.reserve(40 + down->size() + up->size());
    tip.append(QLatin1String("Bandwidth")).append(separator);
    tip.append(QLatin1String("Down: ")).append(*down).append(QLatin1String(" k/sec"));
    tip.append(separator);
    tip.append(QLatin1String("Up: ")).append(*up).append(QLatin1String(" k/sec"));
    return tip;
}

} // namespace

QString kiloText(qint64 bytesPerSecond, const QLocale &locale) {
    if (std::fabs(double(bytesPerSecond)) < kExactThousandths)
        return kiloOfWhole(bytesPerSecond, locale);
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
        return tipText(std::nullopt, std::nullopt, false, multiLine);
    return tipText(kiloText(*down, locale), kiloText(*up, locale), true, multiLine);
}

} // namespace RateText
