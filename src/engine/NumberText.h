#pragma once

#include <QStringView>

namespace sentrel {

// The number at the start of a text after leading blanks: sign, digits, fraction and
// exponent ("10 min" is 10, "abc" is 0). Too large a number gives +/-infinity. Text
// boxes and stored values are both read this way.
double leadingNumber(QStringView text);

// A value rounded to the nearest whole number, halves to even (2.5 gives 2, 3.5 gives 4).
double roundHalfEven(double value);

} // namespace sentrel
