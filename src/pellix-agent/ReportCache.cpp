#include "ReportCache.h"

#include <QFile>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellix {

namespace {

const QByteArray Magic = "pellix-agent-cache 1";
// Far above any report: a larger file is not one of ours.
constexpr qint64 MaxEntryBytes = 1 << 20;
constexpr int LockPollMs = 20;

qint64 bootTimeMs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QByteArray bootId()
{
    QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return f.open(QIODevice::ReadOnly) ? f.read(64).trimmed() : QByteArray();
}

// Ours alone: a regular file of this user that no one else may write.
bool trusted(int fd)
{
    struct stat st = {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && st.st_size <= MaxEntryBytes;
}

// Opens without following a planted link and without blocking on a planted FIFO.
UniqueFd openTrusted(const QString &path, int flags)
{
    UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.valid() && !trusted(fd.get()))
        fd.reset();
    return fd;
}

} // namespace

ReportCache::ReportCache(QString directory)
    : m_directory(std::move(directory))
{ }

std::optional<QByteArray> ReportCache::fresh() const
{
    const UniqueFd fd = openTrusted(m_directory + QStringLiteral("/report"), O_RDONLY);
    if (!fd.valid())
        return std::nullopt;
    QByteArray bytes;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        bytes.append(buf, n);
        if (bytes.size() > MaxEntryBytes)
            return std::nullopt;
    }
    return parseCacheEntry(bytes, bootId(), bootTimeMs(), FreshMs);
}

bool ReportCache::lock(int ms)
{
    m_lock = openTrusted(m_directory + QStringLiteral("/lock"), O_RDWR | O_CREAT);
    if (!m_lock.valid())
        return false;
    for (int waited = 0;; waited += LockPollMs) {
        if (::flock(m_lock.get(), LOCK_EX | LOCK_NB) == 0)
            return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= ms)
            break;
        ::usleep(LockPollMs * 1000);
    }
    m_lock.reset();
    return false;
}

bool ReportCache::store(const QByteArray &report) const
{
    QByteArray temporary = QFile::encodeName(m_directory + QStringLiteral("/.report.XXXXXX"));
    const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid())
        return false;
    const QByteArray bytes = formatCacheEntry(bootId(), bootTimeMs(), report);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    // Renamed over the old one, so that a reader sees either the old report or the new one.
    if (done != bytes.size()
        || ::rename(
               temporary.constData(), QFile::encodeName(m_directory + QStringLiteral("/report")).constData())
            != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

QByteArray formatCacheEntry(const QByteArray &bootId, qint64 storedMs, const QByteArray &report)
{
    return Magic + '\n' + bootId + '\n' + QByteArray::number(storedMs) + '\n' + report;
}

std::optional<QByteArray> parseCacheEntry(
    const QByteArray &bytes, const QByteArray &bootId, qint64 nowMs, qint64 freshMs)
{
    const qsizetype first = bytes.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : bytes.indexOf('\n', first + 1);
    const qsizetype third = second < 0 ? -1 : bytes.indexOf('\n', second + 1);
    if (third < 0 || bytes.left(first) != Magic || bytes.mid(first + 1, second - first - 1) != bootId)
        return std::nullopt;
    bool ok = false;
    const qint64 stored = bytes.mid(second + 1, third - second - 1).toLongLong(&ok);
    const QByteArray report = bytes.mid(third + 1);
    if (!ok || bootId.isEmpty() || report.isEmpty() || nowMs < stored || nowMs - stored >= freshMs)
        return std::nullopt;
    return report;
}

} // namespace pellix
