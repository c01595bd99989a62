#include "engine/NumberText.h"

#include <QByteArray>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace sentrel {

double leadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    // Only ASCII can be part of the number, so the rest may be cut at the first other character.
    QByteArray digits;
    for (; i < text.size() && text[i].unicode() < 0x80; ++i)
        digits.append(static_cast<char>(text[i].unicode()));
    // from_chars would also read "inf", "nan" and a second sign; a number starts with a digit or ".".
    if (digits.isEmpty() || !(std::isdigit(static_cast<unsigned char>(digits[0])) || digits[0] == '.'))
        return 0.0;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(
        digits.constData(), digits.constData() + digits.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone here; tell overflow from underflow by the exponent's sign.
        const QByteArray matched = digits.left(end - digits.constData()).toLower();
        const qsizetype e = matched.indexOf('e');
        const bool tiny = e >= 0 && e + 1 < matched.size() && matched[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

} // namespace sentrel
