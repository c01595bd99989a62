#include "engine/StatusCounts.h"

namespace sentrel {

StatusCounts countStatuses(const TargetTable &table)
{
    StatusCounts s;
    for (const Target &t : table) {
        if (t.isFree())
            continue;
        switch (t.Status) {
        case TargetStatus::Ok:
            ++s.ok;
            break;
        case TargetStatus::Warning:
            ++s.warning;
            break;
        case TargetStatus::Down:
            ++s.down;
            break;
        default:
            ++s.unknown;
            break;
        }
    }
    if (s.down)
        s.worst = TargetStatus::Down;
    else if (s.warning)
        s.worst = TargetStatus::Warning;
    else if (s.unknown || !s.ok)
        s.worst = TargetStatus::Unknown;
    else
        s.worst = TargetStatus::Ok;
    return s;
}

} // namespace sentrel
