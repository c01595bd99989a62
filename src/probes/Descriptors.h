#pragma once

#include <QString>

namespace sentrel {

// Descriptors kept free for everything that is not a check: the window and its display
// connection, the log, the store, the metrics server, the name service's threads.
constexpr int ReservedDescriptors = 64;
// What one check holds open at most at a time: its TCP socket, and a descriptor for its
// share of the name lookups.
constexpr int DescriptorsPerCheck = 2;

// The text of a check that could not run because this machine has no descriptor left.
inline QString noDescriptorsLeftText()
{
    return QStringLiteral("no file descriptors left on this machine");
}

// Raises the soft limit on open files to the hard limit, as servers do at start-up, so that
// the number of checks in flight is not bounded by a default made for select(). Returns
// the soft limit in force afterwards.
long raiseOpenFileLimit();

// How many checks may be in flight now without eating into the reserve, given the soft
// limit and the descriptors open at this moment; at least 1, so a cycle always moves on.
int checksWithinDescriptorBudget();

// True when this process cannot open one more descriptor right now (EMFILE, ENFILE).
bool descriptorsExhausted();

} // namespace sentrel
