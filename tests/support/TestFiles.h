#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <csignal>

#include <sys/resource.h>

namespace sentrel::test {

// The whole content of the file at path; "<unreadable>" when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Gives the file at path exactly bytes; false when that fails.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Gives the file at path exactly bytes, making its folder first; false when that fails.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    return QDir().mkpath(QFileInfo(path).absolutePath()) && writeBytes(path, bytes);
}

// Runs call under a file-size limit of bytes, as a full disk would stop it: a write
// beyond the limit fails with EFBIG instead of raising SIGXFSZ. Restores both after.
template<typename Call>
auto withFileSizeLimit(rlim_t bytes, Call call)
{
    rlimit saved = {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = bytes;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto result = call();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    return result;
}

} // namespace sentrel::test
