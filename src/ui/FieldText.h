#pragma once

#include "engine/NumberText.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace sentrel {

// leadingNumber() rounded half to even, when it fits the range [lowest, highest].
std::optional<int64_t> wholeNumberIn(const QString &text, int64_t lowest, int64_t highest);

// leadingNumber() rounded half to even when it fits a signed 16-bit field.
std::optional<int16_t> number16(const QString &text);

// leadingNumber() rounded half to even when it is a port, 0 to 65535. The record keeps
// the same 16 bits in a signed field.
std::optional<uint16_t> portNumber(const QString &text);

// leadingNumber() rounded half to even when it fits a signed 32-bit field.
std::optional<int32_t> number32(const QString &text);

// A number with a leading blank in place of a plus sign and at most four decimals:
// " 8.25", " 9", "-1.5".
QString spacedDecimal(double value);

// The text without the blanks (spaces) at both ends; other white space stays.
QString trimBlanks(const QString &text);

} // namespace sentrel
