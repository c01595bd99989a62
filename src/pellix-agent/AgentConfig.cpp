#include "AgentConfig.h"

#include <QFile>
#include <QRegularExpression>

#include <cmath>
#include <map>
#include <set>

namespace pellix {

namespace {

// A configuration file is a few dozen lines; anything far larger is not one.
constexpr qint64 MaxConfigBytes = 1 << 20;

// A quoted line or value is cut to this, so that a runaway line cannot flood the log.
constexpr qsizetype MaxQuotedChars = 80;

QString shown(const QString &text)
{
    if (text.size() <= MaxQuotedChars)
        return text;
    return text.left(MaxQuotedChars - 3) + QStringLiteral("...");
}

std::optional<bool> parseBool(const QString &v)
{
    const QString s = v.toLower();
    if (s == QLatin1String("yes") || s == QLatin1String("true") || s == QLatin1String("on")
        || s == QLatin1String("1"))
        return true;
    if (s == QLatin1String("no") || s == QLatin1String("false") || s == QLatin1String("off")
        || s == QLatin1String("0"))
        return false;
    return std::nullopt;
}

std::optional<double> parseNumber(const QString &v)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d) || d < 0)
        return std::nullopt;
    return d;
}

std::optional<int> parseInt(const QString &v, int low, int high)
{
    bool ok = false;
    const int i = v.toInt(&ok);
    if (!ok || i < low || i > high)
        return std::nullopt;
    return i;
}

class Parser
{
public:
    explicit Parser(const QString &source)
        : m_source(source)
    { }

    ConfigResult run(const QByteArray &text)
    {
        const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            m_line = i + 1;
            if (!line(lines[i].trimmed()))
                return {std::nullopt, m_error};
        }
        m_line = 0;
        if (!validate())
            return {std::nullopt, m_error};
        return {m_config, {}};
    }

private:
    bool fail(const QString &message)
    {
        m_error = m_line > 0 ? QStringLiteral("%1:%2: %3").arg(m_source).arg(m_line).arg(message)
                             : QStringLiteral("%1: %2").arg(m_source, message);
        return false;
    }

    bool line(const QString &l)
    {
        if (l.isEmpty() || l.startsWith(QLatin1Char(';')) || l.startsWith(QLatin1Char('#')))
            return true;
        if (l.startsWith(QLatin1Char('[')))
            return section(l);
        const qsizetype eq = l.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(
                QStringLiteral("expected \"key = value\" or \"[section]\", found \"%1\"").arg(shown(l)));
        if (m_section.isEmpty())
            return fail(QStringLiteral("\"%1\" is outside any section").arg(shown(l)));
        const QString key = l.left(eq).trimmed();
        const QString value = l.mid(eq + 1).trimmed();
        if (!m_keys.insert(m_section + QLatin1Char('\n') + key).second)
            return fail(QStringLiteral("\"%1\" is given twice in [%2]").arg(shown(key), shown(m_section)));
        return assign(key, value);
    }

    bool section(const QString &l)
    {
        if (!l.endsWith(QLatin1Char(']')))
            return fail(QStringLiteral("section header \"%1\" has no closing \"]\"").arg(shown(l)));
        const QString name = l.mid(1, l.size() - 2).simplified();
        static const QRegularExpression command(QStringLiteral("^command ([A-Za-z0-9_.-]+)$"));
        const QRegularExpressionMatch m = command.match(name);
        if (m.hasMatch()) {
            m_config.commands.push_back({m.captured(1), {}, {}, 10});
        } else if (name != QLatin1String("agent") && name != QLatin1String("load")
            && name != QLatin1String("disk") && name != QLatin1String("memory")) {
            return fail(QStringLiteral("unknown section [%1] (known: [agent], [load], [disk], [memory], "
                                       "[command NAME])")
                            .arg(shown(name)));
        }
        if (!m_sections.emplace(name, m_line).second)
            return fail(QStringLiteral("section [%1] is given twice").arg(shown(name)));
        m_section = name;
        return true;
    }

    bool badValue(const QString &key, const QString &value, const QString &expected)
    {
        return fail(QStringLiteral("[%1] %2 = \"%3\": expected %4")
                        .arg(shown(m_section), key, shown(value), expected));
    }

    bool unknownKey(const QString &key)
    {
        return fail(QStringLiteral("unknown key \"%1\" in [%2]").arg(shown(key), shown(m_section)));
    }

    bool assign(const QString &key, const QString &value)
    {
        AgentConfig &c = m_config;
        const QString percent = QStringLiteral("a whole percentage from 0 to 100");
        if (m_section == QLatin1String("agent")) {
            if (key == QLatin1String("deadline")) {
                const auto n = parseInt(value, 1, 300);
                return n ? (c.deadlineSeconds = *n, true)
                         : badValue(key, value, QStringLiteral("whole seconds from 1 to 300"));
            }
            if (key != QLatin1String("connections") && key != QLatin1String("connections_per_address"))
                return unknownKey(key);
            const auto n = parseInt(value, 1, 1024);
            if (!n)
                return badValue(key, value, QStringLiteral("a number of connections from 1 to 1024"));
            (key == QLatin1String("connections") ? c.maxConnections : c.maxPerAddress) = *n;
            return true;
        }
        if (m_section == QLatin1String("load")) {
            if (key == QLatin1String("enabled")) {
                const auto b = parseBool(value);
                return b ? (c.loadEnabled = *b, true) : badValue(key, value, QStringLiteral("yes or no"));
            }
            if (key != QLatin1String("warning") && key != QLatin1String("down"))
                return unknownKey(key);
            const auto d = parseNumber(value);
            if (!d)
                return badValue(key, value, QStringLiteral("a load per CPU such as 1.5"));
            (key == QLatin1String("warning") ? c.loadWarning : c.loadDown) = *d;
            return true;
        }
        if (m_section == QLatin1String("disk")) {
            if (key == QLatin1String("mounts")) {
                c.mounts.clear();
                for (const QString &m : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                    const QString path = m.trimmed();
                    if (!path.startsWith(QLatin1Char('/')))
                        return badValue(key, value, QStringLiteral("absolute paths separated by commas"));
                    if (!c.mounts.contains(path))
                        c.mounts << path;
                }
                return true;
            }
            if (key != QLatin1String("warning") && key != QLatin1String("down"))
                return unknownKey(key);
            const auto n = parseInt(value, 0, 100);
            if (!n)
                return badValue(key, value, percent);
            (key == QLatin1String("warning") ? c.diskWarning : c.diskDown) = *n;
            return true;
        }
        if (m_section == QLatin1String("memory")) {
            if (key == QLatin1String("enabled")) {
                const auto b = parseBool(value);
                return b ? (c.memoryEnabled = *b, true) : badValue(key, value, QStringLiteral("yes or no"));
            }
            if (key != QLatin1String("warning") && key != QLatin1String("down"))
                return unknownKey(key);
            const auto n = parseInt(value, 0, 100);
            if (!n)
                return badValue(key, value, percent);
            (key == QLatin1String("warning") ? c.memoryWarning : c.memoryDown) = *n;
            return true;
        }
        CommandDef &cmd = c.commands.back();
        if (key == QLatin1String("command")) {
            QStringList words;
            if (!splitCommandLine(value, words))
                return badValue(key, value, QStringLiteral("a closing double quote"));
            if (words.isEmpty() || words.first().isEmpty())
                return badValue(key, value, QStringLiteral("a program and its arguments"));
            cmd.program = words.first();
            cmd.arguments = words.mid(1);
            return true;
        }
        if (key == QLatin1String("timeout")) {
            const auto n = parseInt(value, 1, 300);
            return n ? (cmd.timeoutSeconds = *n, true)
                     : badValue(key, value, QStringLiteral("whole seconds from 1 to 300"));
        }
        return unknownKey(key);
    }

    // Whole-file errors point at the header of the section they are about; the values that
    // clash are the defaults unless the section is in the file.
    bool failIn(const QString &section, const QString &message)
    {
        const auto it = m_sections.find(section);
        m_line = it == m_sections.end() ? 0 : it->second;
        return fail(message);
    }

    bool validate()
    {
        const AgentConfig &c = m_config;
        if (c.loadWarning > c.loadDown)
            return failIn(QStringLiteral("load"),
                QStringLiteral("[load] warning (%1) is above down (%2)").arg(c.loadWarning).arg(c.loadDown));
        if (c.diskWarning > c.diskDown)
            return failIn(QStringLiteral("disk"),
                QStringLiteral("[disk] warning (%1) is above down (%2)").arg(c.diskWarning).arg(c.diskDown));
        if (c.memoryWarning < c.memoryDown)
            return failIn(QStringLiteral("memory"),
                QStringLiteral("[memory] warning (%1) is below down (%2): both are the available "
                               "percentage under which the state begins")
                    .arg(c.memoryWarning)
                    .arg(c.memoryDown));
        for (const CommandDef &cmd : c.commands) {
            if (cmd.program.isEmpty())
                return failIn(QStringLiteral("command ") + cmd.name,
                    QStringLiteral("[command %1] has no \"command = PROGRAM ARGUMENTS...\"").arg(cmd.name));
        }
        return true;
    }

    QString m_source;
    int m_line = 0;
    QString m_error;
    QString m_section;
    std::map<QString, int> m_sections; // name and the line of its header
    std::set<QString> m_keys;
    AgentConfig m_config;
};

} // namespace

bool splitCommandLine(const QString &line, QStringList &words)
{
    words.clear();
    QString word;
    int quotes = 0;
    bool inQuote = false;
    for (const QChar ch : line) {
        if (ch == QLatin1Char('"')) {
            if (++quotes == 3) {
                quotes = 0;
                word += ch;
            }
            continue;
        }
        if (quotes == 1)
            inQuote = !inQuote;
        quotes = 0;
        if (!inQuote && ch.isSpace()) {
            if (!word.isEmpty())
                words << word;
            word.clear();
        } else {
            word += ch;
        }
    }
    if (quotes == 1)
        inQuote = !inQuote;
    if (!word.isEmpty())
        words << word;
    return !inQuote;
}

ConfigResult parseAgentConfig(const QByteArray &text, const QString &source)
{
    return Parser(source).run(text);
}

ConfigResult loadAgentConfig(const QString &path, bool mustExist)
{
    QFile file(path);
    if (!file.exists() && !mustExist)
        return {AgentConfig {}, {}};
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1: cannot read: %2").arg(path, file.errorString())};
    const QByteArray text = file.read(MaxConfigBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, QStringLiteral("%1: cannot read: %2").arg(path, file.errorString())};
    if (text.size() > MaxConfigBytes)
        return {std::nullopt, QStringLiteral("%1: larger than 1 MiB, not a configuration file").arg(path)};
    return parseAgentConfig(text, path);
}

} // namespace pellix
