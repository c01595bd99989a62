#pragma once

#include "engine/Target.h"

namespace sentrel {

// How many used slots of a table have each result of their last check, and the worst of them.
struct StatusCounts
{
    int ok = 0;
    int warning = 0;
    int down = 0;
    int unknown = 0;
    // DOWN before WARNING before no result before OK; an empty table has no result.
    int16_t worst = TargetStatus::Unknown;
};

StatusCounts countStatuses(const TargetTable &table);

} // namespace sentrel
