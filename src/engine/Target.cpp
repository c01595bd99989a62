#include "engine/Target.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>

#include <deque>

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

QString newTargetUid()
{
    return QStringLiteral("%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

QString derivedTargetUid(const QString &hostname, int occurrence)
{
    const QByteArray key = hostname.toUtf8() + '\n' + QByteArray::number(occurrence);
    return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
}

bool isTargetUid(const QString &text)
{
    if (text.size() != 16)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

void adoptTargetUids(TargetTable &table, const TargetTable &previous)
{
    // A hand-copied line can repeat an identity; only its first holder keeps it.
    QSet<QString> used;
    for (Target &t : table) {
        if (t.isFree())
            continue;
        if (!isTargetUid(t.Uid) || used.contains(t.Uid))
            t.Uid.clear();
        else
            used.insert(t.Uid);
    }
    QHash<QString, std::deque<QString>> byHost;
    for (const Target &t : previous) {
        if (!t.isFree() && isTargetUid(t.Uid) && !used.contains(t.Uid))
            byHost[t.Hostname].push_back(t.Uid);
    }
    QHash<QString, int> seen;
    for (Target &t : table) {
        if (t.isFree())
            continue;
        int occurrence = seen[t.Hostname]++;
        if (!t.Uid.isEmpty())
            continue;
        if (auto found = byHost.find(t.Hostname); found != byHost.end() && !found->empty()) {
            t.Uid = found->front();
            found->pop_front();
        } else {
            do
                t.Uid = derivedTargetUid(t.Hostname, occurrence++);
            while (used.contains(t.Uid));
        }
        used.insert(t.Uid);
    }
}

int16_t LongToInteger(int32_t value)
{
    // Two's complement truncation, spelled out so it is defined for every input.
    const auto low = static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
    return low > 0x7FFF ? static_cast<int16_t>(static_cast<int32_t>(low) - 65536) : static_cast<int16_t>(low);
}

} // namespace sentrel
