#include "settings/SettingsStore.h"

#include "settings/ExportFile.h"
#include "settings/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace sentrel {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// QSettings reads an INI file as UTF-8 and turns any other byte into U+FFFD, which the next
// save would write back for good. A line that is not UTF-8 (an older file, a hand edit in a
// single-byte editor) is read as Windows-1252, as an export file is.
QByteArray asUtf8(const QByteArray &bytes)
{
    if (QByteArrayView(bytes).isValidUtf8())
        return bytes;
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 8);
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        out += decodeUtf8OrWindows1252(bytes.sliced(start, end - start)).toUtf8();
        if (end < bytes.size())
            out += '\n';
        start = end + 1;
    }
    return out;
}

// Reads the INI file's bytes with QSettings' own parser, so hand-made files mean
// to this store what they mean to QSettings.
QMap<QString, QString> parseIni(const QByteArray &bytes)
{
    QMap<QString, QString> values;
    if (bytes.isEmpty())
        return values;
    // QSettings caches a file by name and trusts the cache while size and time
    // stamp look unchanged; a private copy is always parsed afresh.
    QTemporaryFile copy(QDir::temp().filePath(QStringLiteral("sentrel-settings-XXXXXX.ini")));
    const QByteArray utf8 = asUtf8(bytes);
    if (!copy.open() || copy.write(utf8) != utf8.size() || !copy.flush())
        return values;
    QSettings parsed(copy.fileName(), QSettings::IniFormat);
    const QStringList keys = parsed.allKeys();
    for (const QString &key : keys) {
        const QVariant value = parsed.value(key);
        // An unquoted comma in a hand-edited file makes QSettings split the value into a list.
        values.insert(key,
            value.typeId() == QMetaType::QStringList ? value.toStringList().join(QStringLiteral(", "))
                                                     : value.toString());
    }
    return values;
}

// A section or key name as QSettings writes it: "/" as a backslash, other characters
// outside [A-Za-z0-9_.-] as %XX or %UXXXX.
void appendIniName(QByteArray &out, QStringView name)
{
    for (const QChar qc : name) {
        const char16_t ch = qc.unicode();
        if (ch == u'/') {
            out += '\\';
        } else if ((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9')
            || ch == u'_' || ch == u'-' || ch == u'.') {
            out += static_cast<char>(ch);
        } else if (ch <= 0xFF) {
            out += '%' + QByteArray::number(ch, 16).toUpper().rightJustified(2, '0');
        } else {
            out += "%U" + QByteArray::number(ch, 16).toUpper().rightJustified(4, '0');
        }
    }
}

bool isHexDigit(char16_t ch)
{
    return (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
}

const char *namedEscape(char16_t ch)
{
    switch (ch) {
    case u'\a':
        return "\\a";
    case u'\b':
        return "\\b";
    case u'\f':
        return "\\f";
    case u'\n':
        return "\\n";
    case u'\r':
        return "\\r";
    case u'\t':
        return "\\t";
    case u'\v':
        return "\\v";
    default:
        return nullptr;
    }
}

// A text value as QSettings reads it back unchanged: always quoted, with C-style
// escapes, UTF-8 otherwise. A leading "@" is doubled because QSettings reads
// "@..." as a typed value.
void appendIniValue(QByteArray &out, const QString &text)
{
    out += '"';
    if (text.startsWith(u'@'))
        out += '@';
    // Plain characters go out in runs, so surrogate pairs stay together in UTF-8.
    qsizetype runStart = 0;
    auto flushRun = [&](qsizetype end) {
        out += QStringView(text).sliced(runStart, end - runStart).toUtf8();
        runStart = end + 1;
    };
    // After a numeric escape a following hex digit would be read as part of it.
    bool escapeNextIfHex = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i].unicode();
        const bool afterNumeric = escapeNextIfHex;
        escapeNextIfHex = false;
        QByteArray escape;
        if (afterNumeric && isHexDigit(ch)) {
            escape = "\\x" + QByteArray::number(ch, 16);
            escapeNextIfHex = true;
        } else if (const char *named = namedEscape(ch)) {
            escape = named;
        } else if (ch == u'"' || ch == u'\\') {
            escape = QByteArray(1, '\\') + static_cast<char>(ch);
        } else if (ch <= 0x1F) {
            escape = "\\x" + QByteArray::number(ch, 16);
            escapeNextIfHex = true;
        } else {
            continue;
        }
        flushRun(i);
        out += escape;
    }
    flushRun(text.size());
    out += '"';
}

// The whole store as an INI file in QSettings' layout: keys outside any section
// under [General], and a section really named "General" as [%General].
QByteArray iniText(const QMap<QString, QString> &values)
{
    QMap<QString, QList<QPair<QString, QString>>> sections;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        const QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
        sections[section].append({key, it.value()});
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        if (!out.isEmpty())
            out += '\n';
        QByteArray name;
        appendIniName(name, it.key());
        if (name.isEmpty())
            out += "[General]\n";
        else if (name.compare("general", Qt::CaseInsensitive) == 0)
            out += "[%General]\n";
        else
            out += '[' + name + "]\n";
        for (const auto &[key, text] : it.value()) {
            appendIniName(out, key);
            out += '=';
            appendIniValue(out, text);
            out += '\n';
        }
    }
    return out;
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// from_chars never looks at the process locale, which QCoreApplication sets from the environment.
std::optional<double> asciiToDouble(const std::string &ascii)
{
    double value = 0.0;
    const char *first = ascii.data();
    const char *last = first + ascii.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ptr != last)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Tell overflow from underflow by the exponent's sign.
        const auto e = ascii.find_first_of("eE");
        const bool tiny = e != std::string::npos && e + 1 < ascii.size() && ascii[e + 1] == '-';
        const bool negative = !ascii.empty() && ascii[0] == '-';
        if (tiny)
            return negative ? -0.0 : 0.0;
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

} // namespace

SettingsStore::SettingsStore()
    : m_path(QSettings(
        QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Sentrel"), QStringLiteral("Sentrel"))
                 .fileName())
{
    load();
}

SettingsStore::SettingsStore(const QString &path)
    : m_path(path)
{
    load();
}

SettingsStore::~SettingsStore()
{
    sync();
}

void SettingsStore::load()
{
    const RegularFileRead read = readRegularFile(m_path);
    m_readError.clear();
    if (read.outcome == RegularFileRead::Outcome::Refused)
        m_readError = read.error;
    m_values = parseIni(read.bytes);
    m_index.clear();
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        const QString fold = it.key().toCaseFolded();
        // A hand-made file may hold the same name in two spellings; the first one wins consistently.
        if (!m_index.contains(fold))
            m_index.insert(fold, it.key());
    }
}

QString SettingsStore::folded(const QString &section, const QString &key)
{
    return (section + u'/' + key).toCaseFolded();
}

QString SettingsStore::get(const QString &section, const QString &key, const QString &defaultText) const
{
    const auto it = m_index.constFind(folded(section, key));
    return it == m_index.constEnd() ? defaultText : m_values.value(it.value());
}

void SettingsStore::save(const QString &section, const QString &key, const QString &text)
{
    const QString fold = folded(section, key);
    auto it = m_index.constFind(fold);
    if (it == m_index.constEnd())
        it = m_index.insert(fold, section + u'/' + key);
    m_values.insert(it.value(), text);
    m_dirty = true;
}

bool SettingsStore::sync()
{
    if (!m_dirty)
        return true;
    // What could not be read (a FIFO, a device, a huge file) is never replaced by a store
    // made without it.
    if (!m_readError.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    const QByteArray bytes = iniText(m_values);
    // QSaveFile::commit() does not notice that writing the buffered tail failed
    // (a full disk) and would put a cut file in place; flush() does notice.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()
        || !file.commit())
        return false;
    m_dirty = false;
    return true;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

std::optional<bool> parseBool(QStringView text)
{
    const QStringView t = trimmedBlanks(text);
    if (t.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

std::optional<qint64> parseInteger(QStringView text, qint64 min, qint64 max)
{
    const QStringView t = trimmedBlanks(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    qint64 value = 0;
    constexpr qint64 saturated = std::numeric_limits<qint64>::max() / 10 - 10;
    for (; i < t.size(); ++i) {
        if (!isDigit(t[i]))
            return std::nullopt;
        if (value < saturated)
            value = value * 10 + (t[i].unicode() - u'0');
    }
    if (negative)
        value = -value;
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<int16_t> parsePort(QStringView text)
{
    const std::optional<qint64> value =
        parseInteger(text, std::numeric_limits<int16_t>::min(), std::numeric_limits<uint16_t>::max());
    if (!value)
        return std::nullopt;
    return static_cast<int16_t>(static_cast<uint16_t>(*value));
}

QString lengthText(double twips, const QLocale &locale)
{
    if (!std::isfinite(twips))
        return QStringLiteral("0");
    if (twips == std::trunc(twips) && std::fabs(twips) < 1e15)
        return QString::number(static_cast<qint64>(twips));
    QString text = QString::number(twips, 'f', QLocale::FloatingPointShortest);
    text.replace(u'.', locale.decimalPoint());
    return text;
}

std::optional<double> parseLength(QStringView text, const QLocale &locale)
{
    const QStringView t = trimmedBlanks(text);
    const QString point = locale.decimalPoint();
    const QString minus = locale.negativeSign();
    std::string ascii;
    qsizetype i = 0;
    if (t.startsWith(u'-')) {
        ascii += '-';
        i = 1;
    } else if (!minus.isEmpty() && t.startsWith(minus)) {
        ascii += '-';
        i = minus.size();
    } else if (t.startsWith(u'+')) {
        i = 1;
    }
    bool digits = false;
    bool fraction = false;
    while (i < t.size()) {
        if (isDigit(t[i])) {
            ascii += static_cast<char>(t[i].unicode());
            digits = true;
            ++i;
        } else if (!fraction && (t[i] == u'.' || (!point.isEmpty() && t.sliced(i).startsWith(point)))) {
            ascii += '.';
            fraction = true;
            i += t[i] == u'.' ? 1 : point.size();
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    if (ascii.back() == '.')
        ascii += '0';
    // Built anew rather than with insert(), which GCC 12 at -O2 misreads as overlapping copies.
    if (ascii.front() == '.')
        ascii = "0" + ascii;
    else if (ascii.size() > 1 && ascii[0] == '-' && ascii[1] == '.')
        ascii = "-0" + ascii.substr(1);
    const std::optional<double> value = asciiToDouble(ascii);
    constexpr double limit = std::numeric_limits<qint32>::max();
    if (!value || !std::isfinite(*value) || std::fabs(*value) > limit)
        return std::nullopt;
    return *value;
}

} // namespace sentrel
