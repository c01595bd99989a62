#include "ui/FieldText.h"

#include <QByteArray>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace sentrel {

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

std::optional<uint16_t> portNumber(const QString &text)
{
    const auto n = wholeNumberIn(text, 0, std::numeric_limits<uint16_t>::max());
    if (!n)
        return std::nullopt;
    return static_cast<uint16_t>(*n);
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
