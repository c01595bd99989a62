#include "engine/TextLines.h"

namespace sentrel {

namespace {

// Positions below are counted from 1 up to length + 1 ("past the end"), as the
// algorithms are defined on them; charAt() never reads outside the text.
bool isBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

bool breakAt(const QString &s, qsizetype pos)
{
    return pos >= 1 && pos <= s.size() && isBreak(s.at(pos - 1));
}

// The first position at or after from that holds a line break, or length + 1.
qsizetype nextBreak(const QString &s, qsizetype from)
{
    for (qsizetype p = from < 1 ? 1 : from; p <= s.size(); ++p) {
        if (isBreak(s.at(p - 1)))
            return p;
    }
    return s.size() + 1;
}

// Steps over a line break: at least one position, then over further breaks up to the last character.
qsizetype skipBreaks(const QString &s, qsizetype from)
{
    qsizetype p = from + 1;
    while (p < s.size() && breakAt(s, p))
        ++p;
    return p;
}

// s from position from (1-based) to, not including, position to; empty when the range is empty or outside s.
QString slice(const QString &s, qsizetype from, qsizetype to)
{
    if (from < 1)
        from = 1;
    if (to > s.size() + 1)
        to = s.size() + 1;
    if (from >= to)
        return QString();
    return s.mid(from - 1, to - from);
}

} // namespace

QString firstline(const QString &s, QString &rest)
{
    const qsizetype p = nextBreak(s, 1);
    rest = p >= s.size() ? QString() : slice(s, p, s.size() + 1);
    return slice(s, 1, p);
}

QString firsttwo(const QString &s, QString &info, QString &rest)
{
    const qsizetype p1 = nextBreak(s, 1);
    const qsizetype p2 = skipBreaks(s, p1);
    // The search starts after p2: when p2 is the last character and a break, that break is the info.
    const qsizetype p3 = nextBreak(s, p2 + 1);
    info = slice(s, p2, p3);
    const qsizetype p4 = skipBreaks(s, p3);
    rest = p4 >= s.size() ? QString() : slice(s, p4, s.size() + 1);
    return slice(s, 1, p1);
}

} // namespace sentrel
