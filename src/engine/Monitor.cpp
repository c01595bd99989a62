#include "engine/Monitor.h"

#include "engine/StatusGrid.h"
#include "probes/Descriptors.h"
#include "probes/HostResolver.h"
#include "probes/ProbeTypes.h"

#include <QMetaObject>

#include <algorithm>

namespace sentrel {

struct Monitor::Cycle
{
    quint64 generation = 0;
    int endIndex = -1; // the last index when the cycle began; later Targets wait for the next cycle
    int next = 0; // the next index to start
    int applyAt = 0; // the first index whose result is not yet applied
    int running = 0; // started checks that have not finished
    int validatedHead = -1; // the head whose check was last compared with its Target's definition
    int savedRow = 0;
    bool problemSeen = false;
    // Checks that may be in flight at once for the open-file limit.
    int descriptorBudget = 1;
    // The table was replaced: nothing of this cycle is applied or logged any more.
    bool abandoned = false;
    // Started checks not yet applied, and the LastCheck each replaced.
    std::map<int, std::unique_ptr<TargetCheck>> checks;
    std::map<int, QDateTime> previousLastCheck;
};

namespace {

int clampParallel(int16_t parallel)
{
    return std::clamp<int>(parallel, 1, 256);
}

} // namespace

Monitor::Monitor(TargetTable &table, GlobalSettings &settings, TargetGrid &grid, MonitorView &view,
    ProbeKit probes, QObject *parent)
    : QObject(parent)
    , m_table(table)
    , m_settings(settings)
    , m_grid(grid)
    , m_view(view)
    , m_probes(std::move(probes))
{
    m_probes.table = &m_table;
    m_probes.settings = &m_settings;
    m_probes.abortRequested = [this] { return m_abortRequested; };
    m_timer.setInterval(CheckInterval);
    connect(&m_timer, &QTimer::timeout, this, &Monitor::Timer_Timer);
    m_table.setReplacedListener([this] { abandonCycle(); });
}

Monitor::~Monitor()
{
    m_table.setReplacedListener({});
}

void Monitor::setMonitoringEnabled(bool enabled)
{
    if (m_monitoringEnabled == enabled)
        return;
    m_monitoringEnabled = enabled;
    Q_EMIT monitoringEnabledChanged(enabled);
}

void Monitor::resumeTimer()
{
    if (m_monitoringEnabled)
        m_timer.start();
}

void Monitor::do_check()
{
    if (m_cycle)
        return;
    m_timer.stop();
    m_cycle = std::make_unique<Cycle>();
    m_cycle->generation = m_table.generation();
    m_cycle->endIndex = m_table.lastIndex();
    // Measured once a cycle: checks beyond it wait for a slot, so a low open-file limit slows
    // the cycle down instead of failing checks or starving the window, the log and the store.
    m_cycle->descriptorBudget = checksWithinDescriptorBudget();
    m_view.setAbortEnabled(true);
    if (m_loggingEnabled)
        m_view.setLogCommandsEnabled(false);
    m_view.setWindowIconImage(MonitorView::WindowIcon::Busy);
    m_cycle->savedRow = m_grid.currentRow();
    // A name is looked up once per cycle, however many Targets use it.
    if (m_probes.resolver)
        m_probes.resolver->forgetAnswers();
    Q_EMIT cycleStarted();
    pump();
}

void Monitor::pump()
{
    // Applying a result can raise an alert window or a beep, which must not
    // start another round of this loop from inside itself.
    if (m_pumping || !m_cycle || m_cycle->abandoned)
        return;
    m_pumping = true;
    Cycle &c = *m_cycle;
    for (;;) {
        while (c.applyAt <= c.endIndex) {
            if (!m_table.isValidIndex(c.applyAt)) {
                c.applyAt = c.endIndex + 1;
                break;
            }
            const auto it = c.checks.find(c.applyAt);
            if (it == c.checks.end()) {
                if (c.applyAt < c.next) {
                    ++c.applyAt; // a free slot, passed over
                    showHeadCaption();
                    continue;
                }
                break;
            }
            if (c.validatedHead != c.applyAt) {
                c.validatedHead = c.applyAt;
                const Target &t = m_table[static_cast<int16_t>(c.applyAt)];
                // Edited after its check started early: checked now instead, with the new definition,
                // as one-at-a-time checking would have.
                if (!m_abortRequested && !t.isFree() && !it->second->startedFrom(t)) {
                    dropCheck(c.applyAt);
                    startCheck(static_cast<int16_t>(c.applyAt));
                    break;
                }
            }
            if (!it->second->isFinished())
                break;
            std::unique_ptr<TargetCheck> done = std::move(it->second);
            c.checks.erase(it);
            c.previousLastCheck.erase(c.applyAt);
            // A Target deleted while it was being checked is passed over.
            if (!m_table[static_cast<int16_t>(c.applyAt)].isFree())
                apply(*done);
            ++c.applyAt;
            showHeadCaption();
            if (m_abortRequested)
                break;
        }
        if (m_abortRequested && c.checks.empty()) {
            m_pumping = false;
            endCycle(true);
            return;
        }
        if (c.applyAt > c.endIndex) {
            m_pumping = false;
            endCycle(true);
            return;
        }
        const int parallel = std::min(clampParallel(m_settings.Parallel), c.descriptorBudget);
        const int before = c.next;
        while (!m_abortRequested && c.running < parallel && c.next <= c.endIndex
            && m_table.isValidIndex(c.next)) {
            const auto index = static_cast<int16_t>(c.next++);
            if (!m_table[index].isFree())
                startCheck(index);
        }
        // Free slots passed over at the front may let the head move on, or the cycle end.
        if (c.next == before)
            break;
    }
    m_pumping = false;
}

void Monitor::startCheck(int16_t index)
{
    Cycle &c = *m_cycle;
    Target &t = m_table[index];
    c.previousLastCheck[index] = t.LastCheck;
    t.LastCheck = m_now();
    m_grid.showChecking(t.Row);
    auto check = std::make_unique<TargetCheck>(index, t, m_probes);
    TargetCheck *raw = check.get();
    // Queued, so that the check has left its own code before the cycle destroys it.
    connect(
        raw, &TargetCheck::finished, this,
        [this](int16_t) {
            // Also reached for a check that finished just before its table was replaced.
            if (!m_cycle || m_cycle->abandoned)
                return;
            --m_cycle->running;
            pump();
        },
        Qt::QueuedConnection);
    connect(raw, &TargetCheck::captionChanged, this, [this](int16_t idx, const QString &caption) {
        if (m_cycle && idx == m_cycle->applyAt)
            m_view.setStatusCaption(caption);
    });
    ++c.running;
    c.checks.emplace(index, std::move(check));
    raw->start();
}

void Monitor::showHeadCaption()
{
    const auto it = m_cycle->checks.find(m_cycle->applyAt);
    if (it != m_cycle->checks.end())
        m_view.setStatusCaption(it->second->caption());
}

void Monitor::apply(TargetCheck &check)
{
    Cycle &c = *m_cycle;
    Target &t = m_table[check.index()];
    const ProbeStatus result = check.result();
    t.Info = check.info();
    t.Output = check.output();
    m_grid.setInformation(t.Row, t.Info);
    // The user may have moved the selection since the cycle began; the details box follows it.
    if (t.Row == m_grid.currentRow())
        m_grid.setTxtdata(t.Output);
    t.Status = result;
    m_view.setCountCaption(QString());
    m_grid.showStatus(t.Row, result);
    Q_EMIT targetChecked(check.index(), check.echoed() ? t.LastRtt : -1);

    switch (result) {
    case TargetStatus::Ok:
        t.Alerted = false;
        return;
    case TargetStatus::Warning:
        if (!m_settings.Warn) {
            t.Alerted = false;
            return;
        }
        c.problemSeen = true;
        break;
    case TargetStatus::Down:
        c.problemSeen = true;
        if (!m_settings.Error)
            return;
        break;
    default:
        t.Alerted = false;
        return;
    }

    m_view.beep();
    if (t.Alerted)
        return;
    t.Alerted = true;
    t.Output += t.User;
    if (m_grid.setCurrentRow(t.Row))
        c.savedRow = t.Row;
    m_grid.setTxtdata(t.Output);
    m_view.raiseAlert(ProblemAlert {t.Desc, result, t.Info, t.LastCheck});
}

void Monitor::dropCheck(int index)
{
    Cycle &c = *m_cycle;
    const auto it = c.checks.find(index);
    // A finished check's own queued notice still counts it off.
    if (!it->second->isFinished())
        --c.running;
    it->second->undoEcho(m_table);
    c.checks.erase(it);
    // Never started, as far as anyone can see: the old time and the old round-trip average come back.
    if (m_table.isValidIndex(index))
        m_table[static_cast<int16_t>(index)].LastCheck = c.previousLastCheck[index];
    c.previousLastCheck.erase(index);
}

void Monitor::cancelStartedAfterHead()
{
    Cycle &c = *m_cycle;
    while (!c.checks.empty() && c.checks.rbegin()->first > c.applyAt) {
        const int index = c.checks.rbegin()->first;
        dropCheck(index);
        if (m_table.isValidIndex(index)) {
            const Target &t = m_table[static_cast<int16_t>(index)];
            if (!t.isFree())
                m_grid.showStatus(t.Row, t.Status);
        }
    }
    c.next = c.applyAt + 1;
}

void Monitor::abandonCycle()
{
    if (!m_cycle || m_cycle->abandoned)
        return;
    // The table this cycle walks is gone: stop every probe now and write nothing more.
    m_cycle->abandoned = true;
    m_cycle->checks.clear();
    m_cycle->previousLastCheck.clear();
    m_cycle->running = 0;
    m_cycle->endIndex = -1;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_cycle && m_cycle->abandoned)
                endCycle(false);
        },
        Qt::QueuedConnection);
}

void Monitor::endCycle(bool writeLog)
{
    const int savedRow = m_cycle->savedRow;
    const bool problemSeen = m_cycle->problemSeen;
    m_cycle.reset();
    m_abortRequested = false;
    if (savedRow >= 0 && savedRow < m_grid.rowCount()) {
        m_grid.setCurrentRow(savedRow);
        // The details box may still describe a row the user chose meanwhile.
        m_grid.do_data();
    }
    m_view.setWindowIconImage(problemSeen ? MonitorView::WindowIcon::Problem : MonitorView::WindowIcon::Idle);
    m_view.setAbortEnabled(false);
    m_view.setStatusCaption(QString());
    if (m_loggingEnabled) {
        if (writeLog && m_logentry)
            m_logentry();
        m_view.setLogCommandsEnabled(true);
    }
    if (m_monitoringEnabled)
        m_timer.start();
    m_view.setCountCaption(QString());
    if (m_countAfterCycle) {
        m_countAfterCycle = false;
        if (m_settings.Delay > 1)
            m_view.setCountCaption(QStringLiteral("Mins: ") + spaced(m_settings.Delay));
    }
    Q_EMIT cycleFinished();
}

void Monitor::Timer_Timer()
{
    ++m_minuteCount;
    if (m_settings.Delay > 1)
        m_view.setCountCaption(QStringLiteral("Mins: ") + spaced(m_settings.Delay - m_minuteCount));
    if (m_minuteCount >= m_settings.Delay) {
        m_minuteCount = 0;
        if (!m_cycle) {
            m_countAfterCycle = true;
            do_check();
        } else if (m_settings.Delay > 1) {
            m_view.setCountCaption(QStringLiteral("Mins: ") + spaced(m_settings.Delay));
        }
    }
}

void Monitor::optupdate_Click()
{
    if (m_cycle)
        return;
    m_minuteCount = 0;
    do_check();
}

void Monitor::optabort_Click()
{
    if (!m_cycle)
        return;
    m_abortRequested = true;
    cancelStartedAfterHead();
    pump();
}

void Monitor::optenable_Click()
{
    setMonitoringEnabled(!m_monitoringEnabled);
    m_minuteCount = 0;
    if (m_monitoringEnabled) {
        m_timer.start();
        if (!m_cycle)
            do_check();
    } else {
        m_timer.stop();
    }
}

void Monitor::optrefresh_Click()
{
    m_grid.load_display();
}

void Monitor::optwarn_Click()
{
    m_settings.Warn = !m_settings.Warn;
    Q_EMIT warnChanged(m_settings.Warn);
}

} // namespace sentrel
