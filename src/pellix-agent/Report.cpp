#include "Report.h"

#include <algorithm>

namespace pellix {

namespace {

constexpr int MaxLineChars = 200;

const char *word(Level level)
{
    switch (level) {
    case Level::Ok:
        return "OK";
    case Level::Warning:
        return "WARNING";
    case Level::Error:
        return "ERROR";
    case Level::Down:
        return "DOWN";
    }
    return "ERROR";
}

Level above(double value, double warning, double down)
{
    if (value >= down)
        return Level::Down;
    return value >= warning ? Level::Warning : Level::Ok;
}

Check loadCheck(const AgentConfig &c, const LoadReading &r)
{
    if (!r.error.isEmpty())
        return {Level::Error, QStringLiteral("Load unreadable: %1").arg(r.error)};
    const int cpus = std::max(r.cpus, 1);
    const Level level = above(r.five / cpus, c.loadWarning, c.loadDown);
    return {level,
        QStringLiteral("Load %1 on %2 CPU%3 (1, 5, 15 min: %4 %1 %5)")
            .arg(r.five, 0, 'f', 2)
            .arg(cpus)
            .arg(cpus == 1 ? QString() : QStringLiteral("s"))
            .arg(r.one, 0, 'f', 2)
            .arg(r.fifteen, 0, 'f', 2)};
}

Check diskCheck(const AgentConfig &c, const DiskReading &r)
{
    if (!r.mounted)
        return {Level::Error, QStringLiteral("Disk %1: not a mount point").arg(r.mount)};
    if (!r.error.isEmpty())
        return {Level::Error, QStringLiteral("Disk %1 unreadable: %2").arg(r.mount, r.error)};
    const int percent = usedPercent(r.usedBytes, r.availableBytes);
    return {above(percent, c.diskWarning, c.diskDown),
        QStringLiteral("Disk %1 %2% full").arg(r.mount).arg(percent)};
}

Check memoryCheck(const AgentConfig &c, const MemoryReading &r)
{
    if (!r.error.isEmpty())
        return {Level::Error, QStringLiteral("Memory unreadable: %1").arg(r.error)};
    if (r.totalKiB == 0)
        return {Level::Error, QStringLiteral("Memory unreadable: no MemTotal")};
    const int percent = int(r.availableKiB * 100 / r.totalKiB);
    Level level = Level::Ok;
    if (percent < c.memoryDown)
        level = Level::Down;
    else if (percent < c.memoryWarning)
        level = Level::Warning;
    return {level,
        QStringLiteral("Memory %1% available (%2 of %3 MiB)")
            .arg(percent)
            .arg(r.availableKiB / 1024)
            .arg(r.totalKiB / 1024)};
}

Check commandCheck(const CommandReading &r)
{
    using O = CommandReading::Outcome;
    const QString name = r.name;
    switch (r.outcome) {
    case O::FailedToStart:
        return {Level::Error, QStringLiteral("%1 did not start: %2").arg(name, r.error)};
    case O::TimedOut:
        return {Level::Error,
            QStringLiteral("%1 gave no answer within %2 s and was killed").arg(name).arg(r.timeoutSeconds)};
    case O::Crashed:
        return {Level::Error, QStringLiteral("%1 crashed").arg(name)};
    case O::Exited:
        break;
    }
    QString line = firstOutputLine(r.output);
    if (line.isEmpty())
        line = firstOutputLine(r.errorOutput);
    if (r.exitCode < 0 || r.exitCode > 2) {
        return {Level::Error,
            line.isEmpty()
                ? QStringLiteral("%1 failed with exit code %2").arg(name).arg(r.exitCode)
                : QStringLiteral("%1 failed with exit code %2: %3").arg(name).arg(r.exitCode).arg(line)};
    }
    const Level level = r.exitCode == 0 ? Level::Ok : r.exitCode == 1 ? Level::Warning : Level::Down;
    return {level, QStringLiteral("%1: %2").arg(name, line.isEmpty() ? QStringLiteral("no output") : line)};
}

QString cleanLine(QString s)
{
    for (QChar &ch : s) {
        if (ch.category() == QChar::Other_Control)
            ch = QLatin1Char(' ');
    }
    s = s.simplified();
    if (s.size() > MaxLineChars)
        s = s.left(MaxLineChars - 3) + QStringLiteral("...");
    return s;
}

} // namespace

int usedPercent(uint64_t used, uint64_t available)
{
    const uint64_t total = used + available;
    if (total == 0)
        return 0;
    return int((used * 100 + total - 1) / total);
}

QString firstOutputLine(const QByteArray &output)
{
    qsizetype end = output.size();
    for (qsizetype i = 0; i < output.size(); ++i) {
        if (output[i] == '\n' || output[i] == '\r') {
            end = i;
            break;
        }
    }
    QByteArray line = output.left(end);
    const qsizetype bar = line.indexOf('|');
    if (bar >= 0)
        line.truncate(bar);
    return cleanLine(QString::fromUtf8(line));
}

Report evaluate(const AgentConfig &config, const Readings &readings)
{
    Report report;
    if (readings.load)
        report.checks.push_back(loadCheck(config, *readings.load));
    for (const DiskReading &d : readings.disks)
        report.checks.push_back(diskCheck(config, d));
    if (readings.memory)
        report.checks.push_back(memoryCheck(config, *readings.memory));
    for (const CommandReading &c : readings.commands)
        report.checks.push_back(commandCheck(c));
    for (Check &c : report.checks)
        c.text = cleanLine(c.text);

    const Check *worst = nullptr;
    int problems = 0;
    for (const Check &c : report.checks) {
        if (c.level != Level::Ok)
            ++problems;
        if (!worst || c.level > worst->level)
            worst = &c;
    }
    if (problems == 0) {
        report.status = Level::Ok;
        report.summary = report.checks.empty() ? QStringLiteral("No checks configured")
            : report.checks.size() == 1        ? QStringLiteral("1 check OK")
                                               : QStringLiteral("All %1 checks OK").arg(report.checks.size());
        return report;
    }
    report.status = worst->level;
    report.summary = worst->text;
    if (problems > 1)
        report.summary += QStringLiteral(" (+%1 more)").arg(problems - 1);
    return report;
}

QByteArray formatReport(const Report &report)
{
    const Level shown = report.status == Level::Error ? Level::Warning : report.status;
    QByteArray out = QByteArray(word(shown)) + "\r\n" + report.summary.toUtf8() + "\r\n";
    for (const Check &c : report.checks)
        out += QByteArray(word(c.level)) + ": " + c.text.toUtf8() + "\r\n";
    return out;
}

} // namespace pellix
