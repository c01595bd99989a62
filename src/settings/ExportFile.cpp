#include "settings/ExportFile.h"

#include "engine/UserPrompts.h"
#include "settings/RegularFile.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <limits>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace sentrel {

namespace {

QString quoted(const QString &text)
{
    QString doubled = text;
    doubled.replace(u'"', QStringLiteral("\"\""));
    return u'"' + doubled + u'"';
}

QString flag(bool value)
{
    return value ? QStringLiteral("#TRUE#") : QStringLiteral("#FALSE#");
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// Takes fields one after another; commas and line breaks both end a field.
class FieldReader
{
public:
    explicit FieldReader(QStringView text)
        : m_text(text)
    { }

    // The next field's text; nothing when the input is used up.
    std::optional<QString> next()
    {
        // Blank lines between records carry no field.
        while (m_pos < m_text.size() && (isBlank(m_text[m_pos]) || isLineBreak(m_text[m_pos])))
            ++m_pos;
        if (m_pos >= m_text.size())
            return std::nullopt;
        QString field;
        if (m_text[m_pos] == u'"') {
            ++m_pos;
            for (;;) {
                const qsizetype quote = m_text.indexOf(u'"', m_pos);
                if (quote < 0)
                    return std::nullopt;
                field += m_text.sliced(m_pos, quote - m_pos);
                m_pos = quote + 1;
                if (m_pos < m_text.size() && m_text[m_pos] == u'"') {
                    field += u'"';
                    ++m_pos;
                    continue;
                }
                break;
            }
            // Whatever follows the closing quote up to the delimiter is not part of
            // the text: so files written without doubled quotes read as they always did.
            while (m_pos < m_text.size() && m_text[m_pos] != u',' && !isLineBreak(m_text[m_pos]))
                ++m_pos;
        } else {
            const qsizetype start = m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] != u',' && !isLineBreak(m_text[m_pos]))
                ++m_pos;
            field = m_text.sliced(start, m_pos - start).trimmed().toString();
        }
        skipDelimiter();
        return field;
    }

private:
    void skipDelimiter()
    {
        if (m_pos >= m_text.size())
            return;
        if (m_text[m_pos] == u',') {
            ++m_pos;
            return;
        }
        // CR LF is one line break, not two.
        if (m_text[m_pos] == u'\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == u'\n')
            ++m_pos;
        ++m_pos;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F, where it has typographic
// characters instead of controls. The five bytes it leaves unassigned keep their
// Latin-1 value, as Windows itself decodes them. A table, so that the result does not
// depend on whether Qt was built with ICU.
constexpr char16_t windows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D,
    0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

QString decodeUtf8OrWindows1252(QByteArrayView bytes)
{
    // A sequence cut short at the very end is not UTF-8 either, so no byte is dropped.
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    // Not UTF-8: a file from the Windows single-byte code page these files were written in.
    QString text = QString::fromLatin1(bytes);
    for (QChar &c : text) {
        if (c.unicode() >= 0x80 && c.unicode() <= 0x9F)
            c = QChar(windows1252High[c.unicode() - 0x80]);
    }
    return text;
}

namespace {

ExportParseResult refused(const QString &why)
{
    ExportParseResult result;
    result.error = why;
    return result;
}

// Reads one record into t; the empty text on success, otherwise the reason.
QString readRecord(FieldReader &reader, Target &t)
{
    struct Field
    {
        const char *name;
        enum { Text, Integer, Port, Boolean } kind;
        QString *text;
        int16_t *integer;
        bool *boolean;
    };
    const Field fields[] = {
        {"Hostname", Field::Text, &t.Hostname, nullptr, nullptr},
        {"Port", Field::Port, nullptr, &t.Port, nullptr},
        {"PXPort", Field::Port, nullptr, &t.PXPort, nullptr},
        {"UsePX", Field::Boolean, nullptr, nullptr, &t.UsePX},
        {"UseM", Field::Boolean, nullptr, nullptr, &t.UseM},
        {"UseP", Field::Boolean, nullptr, nullptr, &t.UseP},
        {"Desc", Field::Text, &t.Desc, nullptr, nullptr},
        {"User", Field::Text, &t.User, nullptr, nullptr},
        {"Timeout", Field::Integer, nullptr, &t.Timeout, nullptr},
        {"TimeOK", Field::Boolean, nullptr, nullptr, &t.TimeOK},
    };
    for (const Field &f : fields) {
        const std::optional<QString> value = reader.next();
        const QString name = QString::fromLatin1(f.name);
        if (!value)
            return QStringLiteral("the file ends before field %1").arg(name);
        switch (f.kind) {
        case Field::Text:
            *f.text = *value;
            break;
        case Field::Integer: {
            const auto n = parseInteger(
                *value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
            if (!n)
                return QStringLiteral("field %1 is not a 16-bit integer: %2").arg(name, *value);
            *f.integer = static_cast<int16_t>(*n);
            break;
        }
        case Field::Port: {
            // Files of this format hold the signed 16-bit value (-19858 for 45678);
            // a port written as the user sees it names the same 16 bits.
            const std::optional<int16_t> port = parsePort(*value);
            if (!port)
                return QStringLiteral("field %1 is not a port: %2").arg(name, *value);
            *f.integer = *port;
            break;
        }
        case Field::Boolean:
            if (value->compare(u"#TRUE#", Qt::CaseInsensitive) == 0)
                *f.boolean = true;
            else if (value->compare(u"#FALSE#", Qt::CaseInsensitive) == 0)
                *f.boolean = false;
            else
                return QStringLiteral("field %1 is not #TRUE# or #FALSE#: %2").arg(name, *value);
            break;
        }
    }
    return QString();
}

void tell(UserPrompts &prompts, const QString &text)
{
    prompts.message(text, programTitle(), UserPrompts::Buttons::Ok, UserPrompts::Icon::None);
}

// Asks for the export file; the empty text when the user cancelled.
QString chooseExportFile(UserPrompts &prompts, bool save, const QString &directory)
{
    QString path = prompts.chooseFile(save, programTitle(), directory, QStringLiteral("settings.exp"),
        QStringLiteral("Export files (*.exp)|*.exp"));
    if (path.isEmpty())
        return path;
    // The default extension completes a bare name the user typed, never a file that exists.
    const QFileInfo info(path);
    if (info.suffix().isEmpty() && !info.exists())
        path += QStringLiteral(".exp");
    return QFileInfo(path).absoluteFilePath();
}

enum class WriteOutcome { Written, CannotCreate, CannotWrite };

// Gives path the content bytes. A regular file is replaced only once the new
// content is completely written, so a failed export keeps the old file; where
// no temporary file can be made beside it, it is written in place. A device or
// pipe is always written in place: renaming over it would replace the node itself.
WriteOutcome replaceFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        // Non-blocking, so a pipe nobody reads is refused (ENXIO) instead of hanging the
        // window in open(); the writes themselves block again, as for any file.
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return WriteOutcome::CannotCreate;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        QFile file;
        if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return WriteOutcome::CannotCreate;
        }
        if (file.write(bytes) != bytes.size())
            return WriteOutcome::CannotWrite;
        file.close();
        return file.error() == QFileDevice::NoError ? WriteOutcome::Written : WriteOutcome::CannotWrite;
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return WriteOutcome::CannotCreate;
    // In-place writing reports a failed final flush only to flush() itself, not to commit().
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit())
        return WriteOutcome::CannotWrite;
    return WriteOutcome::Written;
}

} // namespace

QByteArray writeExport(const TargetTable &table)
{
    const QString crlf = QStringLiteral("\r\n");
    QString text = QString::number(table.usedCount() - 1) + crlf;
    for (const Target &t : table) {
        if (t.isFree())
            continue;
        const QStringList fields = {
            quoted(t.Hostname),
            // Other readers of this format expect a signed 16-bit integer here.
            QString::number(t.Port),
            QString::number(t.PXPort),
            flag(t.UsePX),
            flag(t.UseM),
            flag(t.UseP),
            quoted(t.Desc),
            quoted(t.User),
            QString::number(t.Timeout),
            flag(t.TimeOK),
        };
        text += fields.join(u',') + crlf;
    }
    return text.toUtf8();
}

ExportParseResult parseExport(const QByteArray &bytes)
{
    const QString text = decodeUtf8OrWindows1252(bytes);
    FieldReader reader(text);
    const std::optional<QString> countField = reader.next();
    if (!countField)
        return refused(QStringLiteral("the file is empty"));
    const auto count =
        parseInteger(*countField, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
    if (!count)
        return refused(QStringLiteral("the first field is not a 16-bit integer: %1").arg(*countField));
    if (*count >= TargetTable::MaxSlots)
        return refused(QStringLiteral("the file announces more than %1 Targets").arg(TargetTable::MaxSlots));

    ExportParseResult result;
    const qint64 records = *count < 0 ? 0 : *count + 1;
    result.targets.reserve(static_cast<size_t>(records));
    for (qint64 i = 0; i < records; ++i) {
        Target t;
        const QString why = readRecord(reader, t);
        if (!why.isEmpty())
            return refused(QStringLiteral("record %1: %2").arg(i + 1).arg(why));
        t.Status = TargetStatus::Unknown;
        t.SmoothedRtt = -1.0;
        result.targets.push_back(std::move(t));
    }
    result.ok = true;
    return result;
}

bool exportSettings(const TargetTable &table, UserPrompts &prompts, const QString &directory)
{
    const QString path = chooseExportFile(prompts, true, directory);
    if (path.isEmpty())
        return false;
    switch (replaceFile(path, writeExport(table))) {
    case WriteOutcome::CannotCreate:
        tell(prompts, QStringLiteral("Unable to create export file."));
        return false;
    case WriteOutcome::CannotWrite:
        tell(prompts, QStringLiteral("Unable to write export file."));
        return false;
    case WriteOutcome::Written:
        break;
    }
    tell(prompts, QStringLiteral("Data exported to file ") + path);
    return true;
}

bool importSettings(TargetTable &table, UserPrompts &prompts, const QString &directory)
{
    const QString path = chooseExportFile(prompts, false, directory);
    if (path.isEmpty())
        return false;
    const RegularFileRead read = readRegularFile(path);
    switch (read.outcome) {
    case RegularFileRead::Outcome::Missing:
        tell(prompts, QStringLiteral("Unable to open file."));
        return false;
    case RegularFileRead::Outcome::Refused:
        // A FIFO, a device or a huge file is not read at all, so nothing here can hang.
        tell(prompts,
            QStringLiteral("Unable to open file.") + QChar(u'\r') + path + QStringLiteral(": ") + read.error);
        return false;
    case RegularFileRead::Outcome::Read:
        break;
    }
    ExportParseResult parsed = parseExport(read.bytes);
    if (!parsed.ok) {
        tell(prompts, QStringLiteral("Invalid export file."));
        return false;
    }
    TargetTable imported;
    imported.assign(std::move(parsed.targets));
    // The file keeps no identities: a Target that names a host already in the list carries on
    // that Target's history.
    adoptTargetUids(imported, table);
    table.assign(std::vector<Target>(imported.begin(), imported.end()));
    return true;
}

} // namespace sentrel
