#pragma once

#include <QByteArray>
#include <QString>

namespace sentrel {

// Far above any real settings store or export file: a mistaken choice (a device, a log)
// is refused instead of read into memory.
constexpr qint64 MaxSettingsFileBytes = 64 * 1024 * 1024;

// What reading a settings store or an export file gave.
struct RegularFileRead
{
    enum class Outcome { Read, Missing, Refused };
    Outcome outcome = Outcome::Missing;
    QByteArray bytes;
    // Why it was refused or could not be read ("not a regular file"), for the messages.
    QString error;
};

// Reads the whole file at path, never waiting on it: a FIFO, a device, a directory or a
// socket is refused (so is a file over maxBytes) without being read, and opening never
// blocks on a FIFO that has no writer.
RegularFileRead readRegularFile(const QString &path, qint64 maxBytes = MaxSettingsFileBytes);

} // namespace sentrel
