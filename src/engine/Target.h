#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace sentrel {

// The outcome of a Target's last check; also the number space every probe answers in.
namespace TargetStatus {
constexpr int16_t Free = -1; // free slot (in the table) / no answer, try the next method (from a probe)
constexpr int16_t Unknown = 0;
constexpr int16_t Ok = 1;
constexpr int16_t Warning = 2;
constexpr int16_t Down = 3;
} // namespace TargetStatus

// One monitored system: its definition (stored and exported) and its run-time state.
// A fresh record has every number 0 (LastRtt and LastRttMicros -1: no echo yet), every Boolean
// false and every text empty.
struct Target
{
    QDateTime LastCheck;
    QString Hostname;
    int16_t Status = 0;
    QString Info;
    QString Output;
    int16_t Port = 0;
    int16_t PXPort = 0;
    bool UsePX = false;
    bool UseM = false;
    bool UseP = false;
    bool UseIPX = false;
    bool Alerted = false;
    int16_t Row = 0;
    QString Desc;
    QString User;
    int16_t Timeout = 0;
    bool TimeOK = false;
    bool Slots = false;
    int16_t MinSlots = 0;
    bool Load = false;
    int32_t LoadLevel = 0;
    int16_t RTT = 0;
    double SmoothedRtt = 0.0;
    // Milliseconds of the last echo that was answered in time; -1 when the last echo was not.
    int LastRtt = -1;
    // The same echo's round-trip time in microseconds, for the metrics; -1 with LastRtt.
    int64_t LastRttMicros = -1;
    // Who this Target is across runs, row moves and imports: 16 lower-case hex digits. History
    // and metric series are kept under it, so it changes only when the host does.
    QString Uid;

    bool isFree() const { return Status == TargetStatus::Free; }
};

// All Targets in display order. Indices are the Targets' identities for the run:
// a deleted Target's slot is only marked free, and new slots are always appended.
// The table is never empty; an empty list is one free slot.
class TargetTable
{
public:
    // The index is a signed 16-bit number everywhere else in the program.
    static constexpr int MaxSlots = 32767;

    TargetTable();

    int16_t size() const { return static_cast<int16_t>(m_slots.size()); }
    int16_t lastIndex() const { return static_cast<int16_t>(m_slots.size() - 1); }
    bool isValidIndex(int index) const { return index >= 0 && index < static_cast<int>(m_slots.size()); }

    Target &operator[](int16_t index) { return m_slots[static_cast<size_t>(index)]; }
    const Target &operator[](int16_t index) const { return m_slots[static_cast<size_t>(index)]; }

    // Appends one fresh slot. Refuses (returns false, table unchanged) when the
    // table already holds MaxSlots slots, so the 16-bit index never wraps.
    bool growtable();

    // Replaces the whole table by one free slot.
    void reset();

    // Replaces the whole table; an empty vector gives one free slot.
    void assign(std::vector<Target> slots);

    // Number of slots that hold a Target.
    int usedCount() const;

    // Changes whenever the table is replaced as a whole (reset, assign), so that
    // work started on the old table can tell it no longer applies.
    quint64 generation() const { return m_generation; }

    // Called right after the table has been replaced as a whole, so that work
    // running on it (a check cycle) can stop at once. One listener; empty clears it.
    void setReplacedListener(std::function<void()> listener) { m_replaced = std::move(listener); }

    auto begin() { return m_slots.begin(); }
    auto end() { return m_slots.end(); }
    auto begin() const { return m_slots.begin(); }
    auto end() const { return m_slots.end(); }

private:
    std::vector<Target> m_slots;
    quint64 m_generation = 0;
    std::function<void()> m_replaced;
};

// Program-wide settings that the engine reads; one instance for the run.
struct GlobalSettings
{
    int16_t Delay = 1;
    int16_t Decay = 5;
    bool Warn = false;
    bool Error = true;
    QString Filename;
    int16_t LogMode = 0;
    QString LogSep = QStringLiteral(",");
    // How many Targets one check cycle probes at the same time (1 = one after another).
    int16_t Parallel = 128;
};

// A new random identity for a Target the user has just created or pointed at another host.
QString newTargetUid();

// The identity of a Target read from a store or file that kept none: derived from the host and
// how many Targets before it name the same host, so that every run that reads the same list
// gives the same identities.
QString derivedTargetUid(const QString &hostname, int occurrence);

// Gives every used slot that has none an identity. Targets that name the host of a Target in
// `previous` take over that Target's identity, in order (the first Target for a host takes the
// first identity for it), so that reading the same list again keeps each Target's history.
void adoptTargetUids(TargetTable &table, const TargetTable &previous);

// Whether text is an identity as Target::Uid keeps it.
bool isTargetUid(const QString &text);

// The low 16 bits of a 32-bit value as a signed 16-bit number (32768..65535 become negative).
int16_t LongToInteger(int32_t value);

} // namespace sentrel
