// The text conversions behind every option box and stored setting, over any
// text a user types or hand-edits, under the locale the first byte picks: the
// number, flag, integer, check-state and update-frequency readings must agree
// with one another, and what the program writes must read back as written.
#include "FuzzSupport.h"
#include "settings/Conversions.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace Conversions;

namespace {

// Present exactly when the number rounds (half to even) into the type.
template <typename Int>
void checkInteger(const std::optional<Int> &got, const std::optional<double> &number,
                  const QString &text) {
    const double r = number ? std::nearbyint(*number) : 0;
    const bool fits = number && r >= double(std::numeric_limits<Int>::min()) &&
                      r <= double(std::numeric_limits<Int>::max());
    FUZZ_CHECK(got == (fits ? std::optional<Int>(Int(r)) : std::nullopt), text);
}

void checkText(const QString &text, const QLocale &locale) {
    const auto number = textToNumber(text, locale);
    if (number) {
        // Finite, and written back by the same locale it reads as itself.
        FUZZ_CHECK(std::isfinite(*number), text);
        FUZZ_CHECK(textToNumber(locale.toString(*number, 'g', QLocale::FloatingPointShortest),
                                locale) == number,
                   text);
    }
    FUZZ_CHECK(textToNumber(QLatin1Char(' ') + text + QLatin1Char('\t'), locale) == number, text);

    const auto flag = textToFlag(text, locale);
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        FUZZ_CHECK(flag == true, text);
    else if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        FUZZ_CHECK(flag == false, text);
    else
        FUZZ_CHECK(flag == (number ? std::optional<bool>(*number != 0) : std::nullopt), text);

    checkInteger(textToInt16(text, locale), number, text);
    checkInteger(textToInt32(text, locale), number, text);

    // A check-box state is a whole number from 0 to 2; a fraction is none.
    const auto whole = textToWholeInt32(text, locale);
    FUZZ_CHECK(whole.has_value() == (number && std::trunc(*number) == *number &&
                                     textToInt32(text, locale).has_value()),
               text);
    const auto state = textToCheckState(text, locale);
    FUZZ_CHECK(state.has_value() == (whole && *whole >= 0 && *whole <= 2), text);
    FUZZ_CHECK(!state || checkStateToText(*state) == QString::number(*whole), text);

    const Frequency f = checkFrequency(text, locale);
    if (!number)
        FUZZ_CHECK(f.check == FrequencyCheck::NotNumeric, text);
    else if (*number < kMinFrequency || *number > kMaxFrequency)
        FUZZ_CHECK(f.check == FrequencyCheck::OutOfRange, text);
    else
        FUZZ_CHECK(f.check == FrequencyCheck::Ok && std::fabs(f.interval - *number) <= 0.5, text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    // German (comma decimals, dot groups), English, French (narrow no-break
    // space groups) or C: every first byte picks one.
    static const QLocale locales[] = {QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::English, QLocale::UnitedStates),
                                      QLocale(QLocale::French, QLocale::France), QLocale::c()};
    const QLocale &locale = locales[data[0] % 4];
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // Bytes that are not UTF-8 become replacement characters, as in a text box.
    checkText(QString::fromUtf8(rest), locale);
    // An interface name is any bytes; the stored text gives back exactly them.
    FUZZ_CHECK(textToInterfaceName(interfaceNameToText(rest)) == rest, QString(rest.toHex()));
    // What the program writes for an index reads back as written, in any locale.
    qint32 value = 0;
    std::memcpy(&value, rest.constData(), std::min(sizeof value, std::size_t(rest.size())));
    FUZZ_CHECK(textToInt32(intToText(value), locale) == value, intToText(value));
    FUZZ_CHECK(textToInt32(adapterToText(value), locale) == value, adapterToText(value));
    return 0;
}
