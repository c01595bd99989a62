#include "SystemReadings.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

namespace pellix {

LoadReading readLoad()
{
    LoadReading r;
    double avg[3] = {0, 0, 0};
    if (::getloadavg(avg, 3) != 3) {
        r.error = QStringLiteral("getloadavg failed");
        return r;
    }
    r.one = avg[0];
    r.five = avg[1];
    r.fifteen = avg[2];
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    r.cpus = cpus > 0 ? int(cpus) : 1;
    return r;
}

DiskReading readDisk(const QString &mount)
{
    DiskReading r;
    r.mount = mount;
    struct statvfs st = {};
    if (::statvfs(QFile::encodeName(mount).constData(), &st) != 0) {
        r.error = QString::fromLocal8Bit(std::strerror(errno));
        return r;
    }
    const uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    // Blocks reserved for root count as neither used nor available, as in df.
    r.usedBytes = (uint64_t(st.f_blocks) - uint64_t(st.f_bfree)) * unit;
    r.availableBytes = uint64_t(st.f_bavail) * unit;
    return r;
}

MemoryReading parseMemInfo(const QByteArray &text)
{
    MemoryReading r;
    bool haveTotal = false, haveAvailable = false;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon);
        if (key != "MemTotal" && key != "MemAvailable")
            continue;
        QByteArray value = line.mid(colon + 1).trimmed();
        if (value.endsWith(" kB"))
            value.chop(3);
        bool ok = false;
        const uint64_t kib = value.trimmed().toULongLong(&ok);
        if (!ok)
            continue;
        if (key == "MemTotal") {
            r.totalKiB = kib;
            haveTotal = true;
        } else {
            r.availableKiB = kib;
            haveAvailable = true;
        }
    }
    if (!haveTotal || !haveAvailable)
        r.error = QStringLiteral("no MemTotal and MemAvailable in /proc/meminfo");
    return r;
}

MemoryReading readMemory()
{
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly)) {
        MemoryReading r;
        r.error = QStringLiteral("/proc/meminfo: %1").arg(f.errorString());
        return r;
    }
    // A procfs file reports size 0, so read it in one go rather than by its size.
    return parseMemInfo(f.readAll());
}

} // namespace pellix
