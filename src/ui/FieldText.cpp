#include "ui/FieldText.h"

#include <QByteArray>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace sentrel {

double leadingNumber(const QString &text)
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

std::optional<int64_t> wholeNumberIn(const QString &text, int64_t lowest, int64_t highest)
{
    const double rounded = roundHalfEven(leadingNumber(text));
    // Compared as doubles first: converting an out-of-range double to an integer is undefined.
    if (!std::isfinite(rounded) || rounded < static_cast<double>(lowest)
        || rounded > static_cast<double>(highest))
        return std::nullopt;
    return static_cast<int64_t>(rounded);
}

std::optional<int16_t> number16(const QString &text)
{
    const auto n =
        wholeNumberIn(text, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
    if (!n)
        return std::nullopt;
    return static_cast<int16_t>(*n);
}

std::optional<int32_t> number32(const QString &text)
{
    const auto n =
        wholeNumberIn(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    if (!n)
        return std::nullopt;
    return static_cast<int32_t>(*n);
}

QString spacedDecimal(double value)
{
    QString digits = QString::number(value, 'f', 4);
    while (digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    if (digits.endsWith(QLatin1Char('.')))
        digits.chop(1);
    if (digits == QStringLiteral("-0"))
        digits = QStringLiteral("0");
    return digits.startsWith(QLatin1Char('-')) ? digits : QStringLiteral(" ") + digits;
}

QString trimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' '))
        ++first;
    while (last > first && text[last - 1] == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

} // namespace sentrel
