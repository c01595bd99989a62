#pragma once

#include "UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace pellix {

// A report shared between the short-lived agents that socket activation starts, one per
// connection, so that one is gathered at most once a second however many clients connect.
// The cache is a file in a directory of the agent's own (systemd's RuntimeDirectory=); it
// is replaced by renaming, so that a reader never sees half a report, and is trusted only
// when it is a regular file owned by this user that no one else may write.
class ReportCache
{
public:
    static constexpr qint64 FreshMs = 1000;

    explicit ReportCache(QString directory);

    // The cached report, if it was stored less than FreshMs ago during this boot.
    std::optional<QByteArray> fresh() const;

    // Waits up to `ms` to be the one agent that gathers; false when that was not to be
    // (another still gathers, or the lock file is not to be trusted).
    bool lock(int ms);
    void unlock() { m_lock.reset(); }

    // Replaces the cached report; false when it could not be written.
    bool store(const QByteArray &report) const;

private:
    QString m_directory;
    UniqueFd m_lock;
};

// The cache file's bytes: a header with the boot and the time of storing, then the report.
QByteArray formatCacheEntry(const QByteArray &bootId, qint64 storedMs, const QByteArray &report);

// The report in a cache file's bytes when it was stored in the boot `bootId` less than
// `freshMs` before `nowMs` (CLOCK_BOOTTIME); nothing otherwise or when the bytes are not one.
std::optional<QByteArray> parseCacheEntry(
    const QByteArray &bytes, const QByteArray &bootId, qint64 nowMs, qint64 freshMs);

} // namespace pellix
