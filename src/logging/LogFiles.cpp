#include "logging/LogFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace sentrel {

QString DirectoryOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    // The root's "/" belongs to the folder, or "/a.log" would give no folder at all.
    return slash == 0 ? path.left(1) : path.left(slash);
}

QString FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString programDataFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(folder);
    return folder;
}

QString defaultLogFile()
{
    return programDataFolder() + QStringLiteral("/sentrel.log");
}

QString logFileCaption(const QString &logFile)
{
    return QStringLiteral("File: ") + FileNameOf(logFile);
}

QString backupNameOf(const QString &logFile)
{
    return logFile + QStringLiteral(".old");
}

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

static FileOpResult failure(int error)
{
    return FileOpResult {false, error, systemErrorText(error)};
}

FileOpResult removeFile(const QString &path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return failure(errno);
    return {};
}

FileOpResult switchLogFile(const QString &logFile)
{
    const QString backup = backupNameOf(logFile);
    // rename() replaces an older backup in the same step, so a switch that fails (no
    // log file, say) leaves the older backup in place instead of deleting it first.
    if (std::rename(QFile::encodeName(logFile).constData(), QFile::encodeName(backup).constData()) != 0)
        return failure(errno);
    return {};
}

} // namespace sentrel
