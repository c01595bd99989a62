#pragma once

#include "engine/Target.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace sentrel {

class UserPrompts;

// What became of one log entry; the check cycle may ignore it.
enum class LogResult {
    Disabled, // logging is off: nothing opened
    Written, // the entry (possibly empty for the layout) was appended
    OpenFailed, // the file could not be opened; the user was told, nothing written
    WriteFailed, // writing failed after the open; the partial entry was taken back where possible
};

// A date in the locale's short date format ("Short Date").
QString logShortDate(const QDate &date, const QLocale &locale);

// A QLocale time format without its time-zone name ("t" fields, outside quotes) and the
// brackets, comma and blanks that belong to it.
QString withoutTimeZone(const QString &format);

// The locale's long time format (with seconds) without its time-zone name.
QString longTimeFormat(const QLocale &locale);

// A time of day in longTimeFormat() ("Long Time").
QString logLongTime(const QTime &time, const QLocale &locale);

// The text of one log entry for the table with CR LF line ends: LogMode 1 one line per
// cycle stamped with now, LogMode 0 one line per used slot stamped with its LastCheck,
// any other LogMode the empty text. Free slots are never included; fields are unquoted.
QString logRecord(
    const TargetTable &table, const GlobalSettings &settings, const QDateTime &now, const QLocale &locale);

// `logentry`: when logging is enabled, appends logRecord() to settings.Filename as UTF-8 in
// one write, creating the file if needed, and closes it again. An open failure is reported
// to the user ("Unable to write to log file:") and nothing is written.
LogResult logentry(const TargetTable &table, const GlobalSettings &settings, bool loggingEnabled,
    UserPrompts &prompts, const QDateTime &now, const QLocale &locale = QLocale::system());

} // namespace sentrel
