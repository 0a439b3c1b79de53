// The conversions behind every option box and stored setting, over any text under the locale
// the first byte picks: the readings agree, and what the program writes reads back as written.
#include "FuzzSupport.h"
#include "settings/Conversions.h"

#include <QLocale>
#include <QtEndian>
#include <cmath>
#include <limits>

using namespace Conversions;

// Present exactly when the number rounds (half to even) into the type.
template <typename Int>
static bool roundsInto(const std::optional<Int> &got, const std::optional<double> &number) {
    const double r = number ? std::nearbyint(*number) : 0;
    const bool fits = number && r >= double(std::numeric_limits<Int>::min()) &&
                      r <= double(std::numeric_limits<Int>::max());
    return got == (fits ? std::optional<Int>(Int(r)) : std::nullopt);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Comma decimals and dot groups, the reverse, narrow no-break space groups, none.
    const QLocale::Language languages[] = {QLocale::German, QLocale::English, QLocale::French,
                                           QLocale::C};
    const QLocale locale(languages[size ? data[0] % 4 : 0]);
    const QByteArray rest =
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).mid(1);
    const QString input = QString::fromUtf8(rest); // as a text box takes the bytes

    // A number is finite, blind to blanks around it, and reads back from the locale's text for it.
    const auto number = textToNumber(input, locale);
    FUZZ_CHECK(!number ||
               (std::isfinite(*number) &&
                textToNumber(locale.toString(*number, 'g', QLocale::FloatingPointShortest),
                             locale) == number));
    FUZZ_CHECK(textToNumber(' ' + input + '\t', locale) == number);
    const bool isTrue = input.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    const bool isFalse = input.trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
    FUZZ_CHECK(textToFlag(input, locale) == (isTrue || isFalse ? std::optional<bool>(isTrue)
                                             : number          ? std::optional<bool>(*number != 0)
                                                               : std::nullopt));
    FUZZ_CHECK(roundsInto(textToInt16(input, locale), number) &&
               roundsInto(textToInt32(input, locale), number));
    // A check-box state is a whole number from 0 to 2; a fraction is none.
    const auto whole = textToWholeInt32(input, locale);
    FUZZ_CHECK(whole.has_value() ==
               (number && std::trunc(*number) == *number && textToInt32(input, locale)));
    const auto state = textToCheckState(input, locale);
    FUZZ_CHECK(state.has_value() == (whole && *whole >= 0 && *whole <= 2));
    FUZZ_CHECK(!state || checkStateToText(*state) == QString::number(*whole));
    const Frequency f = checkFrequency(input, locale);
    FUZZ_CHECK(!number ? f.check == FrequencyCheck::NotNumeric
               : *number < kMinFrequency || *number > kMaxFrequency
                   ? f.check == FrequencyCheck::OutOfRange
                   : f.check == FrequencyCheck::Ok && std::fabs(f.interval - *number) <= 0.5);

    // An interface name is any bytes; the stored text gives back exactly them.
    FUZZ_CHECK(textToInterfaceName(interfaceNameToText(rest)) == rest);
    // What the program writes for an index reads back as written, in any locale.
    const qint32 value = qFromUnaligned<qint32>(rest.leftJustified(4, '\0').constData());
    FUZZ_CHECK(textToInt32(intToText(value), locale) == value &&
               textToInt32(adapterToText(value), locale) == value);
    return 0;
}
