#include "probes/Descriptors.h"

#include "probes/UniqueFd.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>

namespace sentrel {

namespace {

// Linux lists the open descriptors in /proc/self/fd (one entry is the listing's own).
long openDescriptorCount()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists())
        return ReservedDescriptors;
    const qsizetype listed = fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
    // Nothing listed: not even the listing could be opened, so nothing is left.
    return listed > 0 ? long(listed) - 1 : LONG_MAX / 2;
}

} // namespace

long raiseOpenFileLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    // An unlimited hard limit cannot be the soft one for this resource; the kernel's
    // own ceiling (fs.nr_open, 1048576 by default) is far more than any table needs.
    const rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? rlim_t(1) << 20 : limit.rlim_max;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : long(limit.rlim_cur);
}

int checksWithinDescriptorBudget()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY
        || limit.rlim_cur > INT_MAX)
        return INT_MAX;
    const long room = long(limit.rlim_cur) - ReservedDescriptors - openDescriptorCount();
    return int(std::max<long>(1, room / DescriptorsPerCheck));
}

bool descriptorsExhausted()
{
    UniqueFd probe(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    return !probe && (errno == EMFILE || errno == ENFILE);
}

} // namespace sentrel
