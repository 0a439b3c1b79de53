// The texts the tick writes into its labels and reads back from them (the
// mini window, the tray tip, the thresholds), under the locale the first
// byte picks. The input is read both as label text and, from its next eight
// bytes, as a number the tick would format.
#include "FuzzSupport.h"
#include "Version.h"
#include "monitor/RateText.h"
#include "settings/Conversions.h"

#include <cmath>
#include <cstring>

namespace {

// Two decimals, no digit groups, as twoDecimals and kiloText promise.
bool isTwoDecimals(const QString &text, const QLocale &locale) {
    QString digits = text;
    if (digits.startsWith(locale.negativeSign()))
        digits.remove(0, locale.negativeSign().size());
    const qsizetype point = digits.indexOf(locale.decimalPoint());
    if (point < 1 || digits.size() - point - locale.decimalPoint().size() != 2)
        return false;
    digits.remove(point, locale.decimalPoint().size());
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// Within half a hundredth of x, give or take the double rounding of x itself
// (a few units in the last place: 1.5e-8 near 1e8).
bool nearTwoDecimals(double shown, double x) {
    return std::fabs(shown - x) <= 0.005 + std::fabs(x) * 1e-15;
}

void checkLabel(const QString &text, const QLocale &locale) {
    const auto value = RateText::readNumber(text, locale);
    if (value)
        FUZZ_CHECK(std::isfinite(*value), text, QString::number(*value));
    // Whatever the options and settings accept as a number, a label accepts.
    if (const auto n = Conversions::textToNumber(text, locale))
        FUZZ_CHECK(value == n, text, QString::number(*n, 'g', 17));

    const auto kilo = RateText::kiloText(text, locale);
    FUZZ_CHECK(kilo.has_value() == value.has_value(), text, QString());
    if (kilo) {
        FUZZ_CHECK(isTwoDecimals(*kilo, locale), text, *kilo);
        const auto back = RateText::readNumber(*kilo, locale);
        FUZZ_CHECK(back.has_value(), text, *kilo);
        if (std::fabs(*value) < 1e12)
            FUZZ_CHECK(nearTwoDecimals(*back, *value / 1000.0), text, *kilo);
    }

    const QString product = QString::fromUtf8(zarn::kProductName);
    const QString tip = RateText::trayTip(text, QStringLiteral("0"), true, false, locale);
    FUZZ_CHECK((tip == product) == !value.has_value(), text, tip);
    FUZZ_CHECK(RateText::trayTip(text, text, false, true, locale) == product, text, QString());
    if (value)
        FUZZ_CHECK(tip == QStringLiteral("Bandwidth - Down: ") + *kilo +
                              QStringLiteral(" k/sec - Up: ") + RateText::twoDecimals(0, locale) +
                              QStringLiteral(" k/sec"),
                   text, tip);
}

void checkNumber(double d, qint64 whole, const QLocale &locale) {
    // Whole numbers read back exactly (as the nearest double).
    const QString w = RateText::wholeNumber(whole, locale);
    const auto wBack = RateText::readNumber(w, locale);
    FUZZ_CHECK(wBack && *wBack == double(whole), w, QString::number(whole));

    if (!std::isfinite(d)) {
        RateText::wholeNumber(d, locale); // must not crash; the tick never passes these
        RateText::twoDecimals(d, locale);
        return;
    }
    const QString label = QString::number(d, 'g', 17);
    const QString rounded = RateText::wholeNumber(d, locale);
    const auto back = RateText::readNumber(rounded, locale);
    FUZZ_CHECK(back.has_value(), rounded, label);
    if (std::fabs(d) < 4503599627370496.0) // 2^52: below it doubles have fractions
        FUZZ_CHECK(std::fabs(*back - d) <= 0.5 && *back == std::round(*back), rounded, label);
    else
        FUZZ_CHECK(*back == d, rounded, label);

    const QString two = RateText::twoDecimals(d, locale);
    FUZZ_CHECK(isTwoDecimals(two, locale), two, label);
    const auto twoBack = RateText::readNumber(two, locale);
    FUZZ_CHECK(twoBack.has_value(), two, label);
    if (std::fabs(d) < 1e12)
        FUZZ_CHECK(nearTwoDecimals(*twoBack, d), two, label);
    // Formatting what was read back changes nothing: labels are stable.
    FUZZ_CHECK(RateText::twoDecimals(*twoBack, locale) == two, two, label);
    FUZZ_CHECK(RateText::wholeNumber(*back, locale) == rounded, rounded, label);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const QLocale locale = fuzz::localeFor(data[0]);
    checkLabel(fuzz::textAfterSelector(data, size), locale);
    if (size >= 9) {
        double d = 0;
        qint64 whole = 0;
        std::memcpy(&d, data + 1, sizeof d);
        std::memcpy(&whole, data + 1, sizeof whole);
        checkNumber(d, whole, locale);
    }
    return 0;
}
