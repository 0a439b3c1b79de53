// The text conversions behind every option and stored setting: the numeric
// test, flags, 16- and 32-bit integers, check states and the update
// frequency, under the locale the first byte picks.
#include "FuzzSupport.h"
#include "settings/Conversions.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using namespace Conversions;

template <typename Int>
void checkInteger(const std::optional<Int> &got, const std::optional<double> &number,
                  const QString &text) {
    // Present exactly when the number rounds (half to even) into the type.
    std::optional<Int> expected;
    if (number) {
        const double r = std::nearbyint(*number);
        if (r >= double(std::numeric_limits<Int>::min()) &&
            r <= double(std::numeric_limits<Int>::max()))
            expected = Int(r);
    }
    FUZZ_CHECK(got == expected, text,
               QStringLiteral("got %1, expected %2")
                   .arg(got ? QString::number(*got) : QStringLiteral("none"),
                        expected ? QString::number(*expected) : QStringLiteral("none")));
    if (got)
        FUZZ_CHECK(std::fabs(double(*got) - *number) <= 0.5, text, QString::number(*number));
}

void checkText(const QString &text, const QLocale &locale) {
    const auto number = textToNumber(text, locale);
    if (number) {
        FUZZ_CHECK(std::isfinite(*number), text, QString::number(*number));
        // Written back by the same locale, the number reads as itself.
        const QString written = locale.toString(*number, 'g', QLocale::FloatingPointShortest);
        const auto again = textToNumber(written, locale);
        FUZZ_CHECK(
            again && *again == *number, text,
            QStringLiteral("written \"%1\", read %2")
                .arg(written, again ? QString::number(*again, 'g', 17) : QStringLiteral("none")));
    }

    // Blanks around a text never change what it means.
    FUZZ_CHECK(textToNumber(QLatin1Char(' ') + text + QLatin1Char('\t'), locale) == number, text,
               QStringLiteral("padding changed the number"));

    const auto flag = textToFlag(text, locale);
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        FUZZ_CHECK(flag == true, text, QString());
    else if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        FUZZ_CHECK(flag == false, text, QString());
    else
        FUZZ_CHECK(flag.has_value() == number.has_value() && (!flag || *flag == (*number != 0)),
                   text, QStringLiteral("flag disagrees with the number"));

    checkInteger(textToInt16(text, locale), number, text);
    checkInteger(textToInt32(text, locale), number, text);

    // A check-box state is a whole number from 0 to 2; a fraction is none.
    const auto state = textToCheckState(text, locale);
    const auto whole = textToWholeInt32(text, locale);
    FUZZ_CHECK(whole.has_value() == (number && std::trunc(*number) == *number &&
                                     textToInt32(text, locale).has_value()),
               text, QStringLiteral("whole number disagrees with the number"));
    FUZZ_CHECK(state.has_value() == (whole && *whole >= 0 && *whole <= 2), text, QString());
    if (state)
        FUZZ_CHECK(checkStateToText(*state) == QString::number(*whole), text, QString());

    const Frequency f = checkFrequency(text, locale);
    if (!number) {
        FUZZ_CHECK(f.check == FrequencyCheck::NotNumeric, text, QString());
    } else if (*number < kMinFrequency || *number > kMaxFrequency) {
        FUZZ_CHECK(f.check == FrequencyCheck::OutOfRange, text, QString::number(*number));
    } else {
        FUZZ_CHECK(f.check == FrequencyCheck::Ok && f.interval >= 1 && f.interval <= 60000, text,
                   QString::number(f.interval));
        FUZZ_CHECK(std::fabs(f.interval - *number) <= 0.5, text, QString::number(f.interval));
    }
}

// What the program itself writes must read back as what it wrote, under any
// locale: the stored adapter index, integers, check states.
void checkWrittenForms(qint32 value, const QLocale &locale) {
    const QString plain = intToText(value);
    FUZZ_CHECK(textToInt32(plain, locale) == value, plain, QString());
    const QString adapter = adapterToText(value);
    FUZZ_CHECK(textToInt32(adapter, locale) == value, adapter, QString());
    FUZZ_CHECK(adapter.startsWith(QLatin1Char(value < 0 ? '-' : ' ')), adapter, QString());
    if (value >= std::numeric_limits<qint16>::min() && value <= std::numeric_limits<qint16>::max())
        FUZZ_CHECK(textToInt16(plain, locale) == qint16(value), plain, QString());
    else
        FUZZ_CHECK(!textToInt16(plain, locale), plain, QString());
    if (value >= 1 && value <= 60000) {
        const Frequency f = checkFrequency(plain, locale);
        FUZZ_CHECK(f.check == FrequencyCheck::Ok && f.interval == value, plain, QString());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const QLocale locale = fuzz::localeFor(data[0]);
    checkText(fuzz::textAfterSelector(data, size), locale);
    if (size >= 5) {
        qint32 value = 0;
        std::memcpy(&value, data + 1, sizeof value);
        checkWrittenForms(value, locale);
    }
    for (const auto state : {Qt::Unchecked, Qt::PartiallyChecked, Qt::Checked})
        FUZZ_CHECK(textToCheckState(checkStateToText(state), locale) == state,
                   checkStateToText(state), QString());
    return 0;
}
