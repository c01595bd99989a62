// The export file reader: a file that reads, written out again, reads as the same Targets, and
// the writer's output is a fixed point of reading and writing.
#include "FuzzTarget.h"

#include "settings/ExportFile.h"

using namespace sentrel;

namespace {

bool sameExportedFields(const Target &a, const Target &b)
{
    return a.Hostname == b.Hostname && a.Port == b.Port && a.PXPort == b.PXPort && a.UsePX == b.UsePX
        && a.UseM == b.UseM && a.UseP == b.UseP && a.Desc == b.Desc && a.User == b.User
        && a.Timeout == b.Timeout && a.TimeOK == b.TimeOK;
}

QByteArray written(const std::vector<Target> &targets)
{
    TargetTable table;
    table.assign(targets);
    return writeExport(table);
}

void fuzzExportFile(QByteArrayView input)
{
    const ExportParseResult first = parseExport(input.toByteArray());
    if (!first.ok) {
        FUZZ_REQUIRE(!first.error.isEmpty());
        FUZZ_REQUIRE(first.targets.empty());
        return;
    }
    FUZZ_REQUIRE(first.targets.size() <= size_t(TargetTable::MaxSlots));
    for (const Target &t : first.targets)
        FUZZ_REQUIRE(!t.isFree() && t.SmoothedRtt == -1);

    const QByteArray bytes = written(first.targets);
    const ExportParseResult second = parseExport(bytes);
    FUZZ_REQUIRE(second.ok);
    FUZZ_REQUIRE(second.targets.size() == first.targets.size());
    for (size_t i = 0; i < first.targets.size(); ++i)
        FUZZ_REQUIRE(sameExportedFields(first.targets[i], second.targets[i]));
    FUZZ_REQUIRE(written(second.targets) == bytes);
}

} // namespace

SENTREL_FUZZ_TARGET(exportfile, fuzzExportFile)
