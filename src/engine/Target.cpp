#include "engine/Target.h"

namespace sentrel {

TargetTable::TargetTable()
{
    reset();
}

bool TargetTable::growtable()
{
    if (m_slots.size() >= static_cast<size_t>(MaxSlots))
        return false;
    m_slots.emplace_back();
    return true;
}

void TargetTable::reset()
{
    assign({});
}

void TargetTable::assign(std::vector<Target> slots)
{
    m_slots = std::move(slots);
    if (m_slots.size() > static_cast<size_t>(MaxSlots))
        m_slots.resize(static_cast<size_t>(MaxSlots));
    if (m_slots.empty()) {
        m_slots.emplace_back();
        m_slots.back().Status = TargetStatus::Free;
    }
    ++m_generation;
    if (m_replaced)
        m_replaced();
}

int TargetTable::usedCount() const
{
    int n = 0;
    for (const auto &t : m_slots)
        n += t.isFree() ? 0 : 1;
    return n;
}

int16_t LongToInteger(int32_t value)
{
    // Two's complement truncation, spelled out so it is defined for every input.
    const auto low = static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
    return low > 0x7FFF ? static_cast<int16_t>(static_cast<int32_t>(low) - 65536) : static_cast<int16_t>(low);
}

} // namespace sentrel
