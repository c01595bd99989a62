#include "SystemReadings.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace pellix {

namespace {

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray readProcFile(const char *path)
{
    QFile f(QString::fromLatin1(path));
    // A procfs file reports size 0, so read it in one go rather than by its size.
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The mount table is the authority, as a bind mount shares its device with its parent;
// without it a change of device from the parent directory tells.
bool isMountPoint(const QByteArray &resolved)
{
    const std::vector<QByteArray> points = parseMountInfo(readProcFile("/proc/self/mountinfo"));
    if (!points.empty())
        return std::find(points.begin(), points.end(), resolved) != points.end();
    struct stat self = {}, parent = {};
    if (::stat(resolved.constData(), &self) != 0 || ::stat((resolved + "/..").constData(), &parent) != 0)
        return true; // cannot tell: statvfs gives the answer
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

} // namespace

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
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(mount).constData(), resolved)) {
        r.error = errnoText(errno);
        return r;
    }
    struct statvfs st = {};
    if (::statvfs(resolved, &st) != 0) {
        r.error = errnoText(errno);
        return r;
    }
    r.mounted = isMountPoint(QByteArray(resolved));
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

std::vector<QByteArray> parseMountInfo(const QByteArray &text)
{
    std::vector<QByteArray> points;
    for (const QByteArray &line : text.split('\n')) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT ...
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5 || fields[4].isEmpty())
            continue;
        const QByteArray &escaped = fields[4];
        QByteArray point;
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            const auto octal = [&](qsizetype at) {
                return at < escaped.size() && escaped[at] >= '0' && escaped[at] <= '7';
            };
            if (escaped[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
                point += char(
                    ((escaped[i + 1] - '0') << 6) | ((escaped[i + 2] - '0') << 3) | (escaped[i + 3] - '0'));
                i += 3;
            } else {
                point += escaped[i];
            }
        }
        points.push_back(point);
    }
    return points;
}

} // namespace pellix
