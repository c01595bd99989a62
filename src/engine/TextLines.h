#pragma once

#include <QString>

namespace sentrel {

// Splits off the first line of s (up to the first CR or LF). rest is the remainder
// starting with that line break, or the empty text when the break is the last character
// of s (or s has none).
QString firstline(const QString &s, QString &rest);

// Splits off the first two lines of s, skipping blank lines between the lines: info is
// the second line and rest starts with the third line (empty when there is none).
QString firsttwo(const QString &s, QString &info, QString &rest);

} // namespace sentrel
