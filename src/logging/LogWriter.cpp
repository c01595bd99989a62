#include "logging/LogWriter.h"

#include "engine/UserPrompts.h"
#include "probes/ProbeTypes.h"
#include "probes/UniqueFd.h"
#include "probes/WireText.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sentrel {

namespace {

const QString CrLf = QStringLiteral("\r\n");

bool isClosingBracket(QChar c)
{
    return c == QLatin1Char(')') || c == QLatin1Char(']');
}

// Drops the separators that belonged to a removed time-zone token: "(" or "[" before it,
// then blanks and a comma ("HH:mm:ss, t").
void dropTrailingZoneSeparators(QString &format)
{
    if (!format.isEmpty() && (format.back() == QLatin1Char('(') || format.back() == QLatin1Char('[')))
        format.chop(1);
    while (!format.isEmpty() && (format.back().isSpace() || format.back() == QLatin1Char(',')))
        format.chop(1);
}

// Appends all bytes, taking a partial entry back off the file when the disk refuses the rest.
bool appendAll(int fd, const QByteArray &bytes)
{
    struct stat before
    {
    };
    const bool haveSize = ::fstat(fd, &before) == 0;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            struct stat now
            {
            };
            // Only cut when the file holds exactly what was there plus our part, so another
            // program's appended data is never removed.
            if (done > 0 && haveSize && S_ISREG(before.st_mode) && ::fstat(fd, &now) == 0
                && now.st_size == before.st_size + done) {
                [[maybe_unused]] const int ignored = ::ftruncate(fd, before.st_size);
            }
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

QString logShortDate(const QDate &date, const QLocale &locale)
{
    return locale.toString(date, QLocale::ShortFormat);
}

QString withoutTimeZone(const QString &format)
{
    QString out;
    out.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t')) {
            out.append(c);
            continue;
        }
        while (i + 1 < format.size() && format.at(i + 1) == QLatin1Char('t'))
            ++i;
        if (i + 1 < format.size() && isClosingBracket(format.at(i + 1)))
            ++i;
        dropTrailingZoneSeparators(out);
    }
    // A leading zone name ("t HH:mm:ss") leaves its blank at the front.
    return out.trimmed();
}

QString longTimeFormat(const QLocale &locale)
{
    return withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
}

QString logLongTime(const QTime &time, const QLocale &locale)
{
    return locale.toString(time, longTimeFormat(locale));
}

QString logRecord(
    const TargetTable &table, const GlobalSettings &settings, const QDateTime &now, const QLocale &locale)
{
    const QString sep = settings.LogSep.isEmpty() ? QStringLiteral(",") : settings.LogSep;
    const QString timeFormat = longTimeFormat(locale);
    QString record;
    if (settings.LogMode == 1) {
        record = logShortDate(now.date(), locale) + sep + locale.toString(now.time(), timeFormat);
        for (const Target &t : table) {
            if (t.Status >= 0)
                record += sep + spaced(t.Status);
        }
        record += CrLf;
    } else if (settings.LogMode == 0) {
        for (const Target &t : table) {
            if (t.Status < 0)
                continue;
            record += logShortDate(t.LastCheck.date(), locale) + sep
                + locale.toString(t.LastCheck.time(), timeFormat) + sep + withoutControls(t.Desc) + sep
                + spaced(t.Status) + sep + withoutControls(t.Info) + CrLf;
        }
    }
    return record;
}

LogResult logentry(const TargetTable &table, const GlobalSettings &settings, bool loggingEnabled,
    UserPrompts &prompts, const QDateTime &now, const QLocale &locale)
{
    if (!loggingEnabled)
        return LogResult::Disabled;

    const QByteArray path = QFile::encodeName(settings.Filename);
    UniqueFd fd(::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!fd) {
        const int err = errno;
        prompts.message(QStringLiteral("Unable to write to log file:") + QChar(u'\r')
                + QString::fromLocal8Bit(std::strerror(err)),
            programTitle(), UserPrompts::Buttons::Ok, UserPrompts::Icon::None);
        return LogResult::OpenFailed;
    }

    // The whole entry goes out in one write, so a full disk cannot leave half a line behind.
    const QByteArray bytes = logRecord(table, settings, now, locale).toUtf8();
    return appendAll(fd.get(), bytes) ? LogResult::Written : LogResult::WriteFailed;
}

} // namespace sentrel
