// The agent's configuration reader: a file is refused with a message naming it, or gives a
// configuration whose every value is inside its range and whose thresholds are in order.
#include "FuzzTarget.h"

#include "AgentConfig.h"

using namespace pellix;

namespace {

void fuzzAgentConfig(QByteArrayView input)
{
    const QByteArray text = input.toByteArray();
    const ConfigResult result = parseAgentConfig(text, QStringLiteral("agent.ini"));
    if (!result.config) {
        FUZZ_REQUIRE(result.error.startsWith(QStringLiteral("agent.ini")));
        return;
    }
    FUZZ_REQUIRE(result.error.isEmpty());
    const AgentConfig &c = *result.config;
    FUZZ_REQUIRE(c.maxConnections >= 1 && c.maxConnections <= 1024);
    FUZZ_REQUIRE(c.loadWarning <= c.loadDown);
    FUZZ_REQUIRE(c.diskWarning >= 0 && c.diskWarning <= c.diskDown && c.diskDown <= 100);
    FUZZ_REQUIRE(c.memoryDown >= 0 && c.memoryDown <= c.memoryWarning && c.memoryWarning <= 100);
    for (qsizetype i = 0; i < c.mounts.size(); ++i) {
        FUZZ_REQUIRE(c.mounts[i].startsWith(u'/'));
        FUZZ_REQUIRE(c.mounts.indexOf(c.mounts[i]) == i);
    }
    for (const CommandDef &cmd : c.commands) {
        FUZZ_REQUIRE(!cmd.program.isEmpty());
        FUZZ_REQUIRE(cmd.timeoutSeconds >= 1 && cmd.timeoutSeconds <= 300);
    }
    // Reading is a function of the text alone.
    const ConfigResult again = parseAgentConfig(text, QStringLiteral("agent.ini"));
    FUZZ_REQUIRE(again.config && again.config->commands.size() == c.commands.size()
        && again.config->mounts == c.mounts);
}

} // namespace

SENTREL_FUZZ_TARGET(agentconfig, fuzzAgentConfig)
