// What the agent reads and reports: /proc/meminfo text of any shape gives either both values
// or an error, and whatever a check command prints, the report stays one status word, one
// summary and one line per check, each a line without control characters.
#include "FuzzTarget.h"

#include "Report.h"
#include "SystemReadings.h"

#include <QList>

using namespace pellix;

namespace {

void checkMemInfo(const QByteArray &text)
{
    const MemoryReading reading = parseMemInfo(text);
    if (reading.error.isEmpty())
        FUZZ_REQUIRE(text.contains("MemTotal:") && text.contains("MemAvailable:"));
    // Later lines win, as the kernel never repeats one: a well-formed tail decides the values.
    const MemoryReading tailed =
        parseMemInfo(text + "\nMemTotal:       16314532 kB\nMemAvailable:    9876543 kB\n");
    FUZZ_REQUIRE(tailed.error.isEmpty() && tailed.totalKiB == 16314532 && tailed.availableKiB == 9876543);
}

bool isCleanLine(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line);
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

void checkReport(const QByteArray &output)
{
    const QString line = firstOutputLine(output);
    FUZZ_REQUIRE(!line.contains(u'|') && isCleanLine(line.toUtf8()));

    AgentConfig config;
    config.loadEnabled = false;
    config.mounts.clear();
    config.memoryEnabled = false;
    Readings readings;
    const int exitCodes[] = {0, 1, 2, 3, -1};
    for (const int exitCode : exitCodes) {
        CommandReading command;
        command.name = QStringLiteral("check%1").arg(exitCode);
        command.exitCode = exitCode;
        command.output = output;
        command.errorOutput = output;
        readings.commands.push_back(command);
    }
    CommandReading crashed;
    crashed.name = QString::fromUtf8(output.left(40));
    crashed.outcome = CommandReading::Outcome::FailedToStart;
    crashed.error = QString::fromUtf8(output);
    readings.commands.push_back(crashed);

    const Report report = evaluate(config, readings);
    const QByteArray text = formatReport(report);
    FUZZ_REQUIRE(text.endsWith("\r\n"));
    QList<QByteArray> lines = text.split('\n');
    FUZZ_REQUIRE(lines.takeLast().isEmpty());
    FUZZ_REQUIRE(qsizetype(lines.size()) == qsizetype(2 + readings.commands.size()));
    for (QByteArray &l : lines) {
        FUZZ_REQUIRE(l.endsWith('\r'));
        l.chop(1);
        FUZZ_REQUIRE(!l.contains('\r') && isCleanLine(l));
    }
    const QByteArray status = lines.first();
    FUZZ_REQUIRE(status == "OK" || status == "WARNING" || status == "DOWN");
}

void fuzzAgentReadings(QByteArrayView input)
{
    const QByteArray bytes = input.toByteArray();
    checkMemInfo(bytes);
    checkReport(bytes);
}

} // namespace

SENTREL_FUZZ_TARGET(agentreadings, fuzzAgentReadings)
