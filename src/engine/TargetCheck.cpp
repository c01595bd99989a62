#include "engine/TargetCheck.h"

#include "engine/TextLines.h"
#include "probes/Descriptors.h"
#include "probes/HostResolver.h"
#include "probes/NetWareProbe.h"

#include <QMetaObject>

namespace sentrel {

namespace {

const QString CrLf = QStringLiteral("\r\n");

} // namespace

TargetCheck::TargetCheck(int16_t index, const Target &target, const ProbeKit &kit, QObject *parent)
    : QObject(parent)
    , m_index(index)
    , m_target(target)
    , m_kit(kit)
{ }

// Members are destroyed in reverse order, so the probes (and their sockets) go
// before anything they could call back into.
TargetCheck::~TargetCheck() = default;

void TargetCheck::start()
{
    if (!m_target.UseM && !m_target.UsePX && !m_target.UseP && !m_target.UseIPX) {
        m_info = QStringLiteral("No test method defined.");
        m_result = 0;
    }
    m_timeout = m_target.Timeout > 0 ? m_target.Timeout : int16_t(60);
    if (m_target.UseM || m_target.UsePX || m_target.UseP) {
        // Resolved on every check: the address of a name may change between cycles.
        m_kit.resolver->ResolveHostAddress(m_target.Hostname, this, [this](const ResolveResult &r) {
            m_address = r.host;
            if (!r.found() && descriptorsExhausted()) {
                endForLocalShortage();
                return;
            }
            if (!r.found()) {
                m_output = GetWinsockErrorText(r.error);
                m_info = QStringLiteral("Unable to identify host");
                m_result = 3;
            } else if (const int missing = ipv6Unavailability(r.host)) {
                // This machine cannot reach the host at all: its own fault, not the host's.
                m_output = GetWinsockErrorText(missing);
                m_info = ipv6UnavailableText();
                m_result = 0;
            }
            runStep(Step::Agent);
        });
        return;
    }
    advance(Step::Agent);
}

void TargetCheck::advance(Step next)
{
    // Each step continues from the event loop, so a probe's callback has returned
    // (and may be destroyed) before the next one starts.
    QMetaObject::invokeMethod(
        this, [this, next] { runStep(next); }, Qt::QueuedConnection);
}

TargetCheck::Answer TargetCheck::answerTo(void (TargetCheck::*step)(ProbeStatus, const QString &))
{
    return [this, step](ProbeStatus code, const QString &text) {
        // The next step runs from the event loop, once the probe's own callback has
        // returned, so the finished probe can be destroyed first.
        QMetaObject::invokeMethod(
            this,
            [this, step, code, text] {
                m_port.reset();
                m_echo.reset();
                (this->*step)(code, text);
            },
            Qt::QueuedConnection);
    };
}

void TargetCheck::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    Q_EMIT captionChanged(m_index, m_caption);
}

void TargetCheck::runStep(Step step)
{
    const auto progress = [this](const QString &caption) { setCaption(caption); };
    switch (step) {
    // A port is 16 bits kept in a signed field: 32768 to 65535 are ports like any
    // other, only 0 means that no port was given.
    case Step::Agent:
        if (m_target.UsePX && m_target.PXPort != 0 && m_result == -1) {
            m_port = checkport(m_address, m_target.PXPort, m_timeout, false, m_kit.abortRequested, progress,
                answerTo(&TargetCheck::agentAnswered));
            return;
        }
        [[fallthrough]];
    case Step::Port:
        if (m_target.UseM && m_result == -1 && m_target.Port != 0) {
            m_port = checkport(m_address, m_target.Port, m_timeout, true, m_kit.abortRequested, progress,
                answerTo(&TargetCheck::portAnswered));
            return;
        }
        [[fallthrough]];
    case Step::Echo:
        if (m_target.UseP && m_result == -1) {
            TargetTable &table = *m_kit.table;
            m_rttBefore = table.isValidIndex(m_index) ? table[m_index].SmoothedRtt : 0.0;
            m_lastRttBefore = table.isValidIndex(m_index) ? table[m_index].LastRtt : -1;
            m_lastRttMicrosBefore = table.isValidIndex(m_index) ? table[m_index].LastRttMicros : -1;
            // The probe updates SmoothedRtt in the table before it answers.
            m_echo = pingcheck(*m_kit.icmp, m_address, 2, m_index, table, *m_kit.settings,
                [this, answer = answerTo(&TargetCheck::echoAnswered)](ProbeStatus code, const QString &msg) {
                    if (m_kit.table->isValidIndex(m_index)) {
                        m_echoed = true;
                        m_rttAfter = (*m_kit.table)[m_index].SmoothedRtt;
                    }
                    answer(code, msg);
                });
            return;
        }
        [[fallthrough]];
    case Step::NetWare:
        if (m_target.UseIPX) {
            QString msg;
            m_result = ipxcheck(*m_kit.netware, m_target.Hostname, msg, m_target.Slots, m_target.MinSlots);
            m_output = msg;
            QString rest;
            m_info = firstline(msg, rest);
        }
        [[fallthrough]];
    case Step::Done:
        finish();
        return;
    }
}

// A probe that could not run for want of descriptors says nothing about the host, and every
// further method would fail the same way: the check ends as a local error, never as DOWN.
void TargetCheck::endForLocalShortage()
{
    m_result = TargetStatus::Unknown;
    m_info = noDescriptorsLeftText();
    m_output = m_info + CrLf;
    setCaption(QString());
    advance(Step::Done);
}

void TargetCheck::agentAnswered(ProbeStatus code, const QString &reply)
{
    if (code == 0 && reply == noDescriptorsLeftText()) {
        endForLocalShortage();
        return;
    }
    m_result = code;
    switch (code) {
    case -1:
        m_output = reply + CrLf;
        break;
    case 0:
        m_info = QStringLiteral("An error occurred.");
        m_output = reply + CrLf;
        break;
    case 3:
        m_info = reply;
        break;
    case 1:
    case 2: {
        if (m_target.TimeOK)
            m_result = 1;
        QString info, rest;
        const QString status = firsttwo(reply, info, rest);
        m_info = info;
        m_output = rest + CrLf;
        if (status == QLatin1String("OK") || status == QLatin1String("0")) {
            // the read's own result stands
        } else if (status == QLatin1String("WARNING") || status == QLatin1String("1")) {
            m_result = 2;
        } else if (status == QLatin1String("DOWN") || status == QLatin1String("2")) {
            m_result = 3;
        } else {
            m_result = 0;
        }
        break;
    }
    default:
        break;
    }
    setCaption(QString());
    runStep(Step::Port);
}

void TargetCheck::portAnswered(ProbeStatus code, const QString &reply)
{
    if (code == 0 && reply == noDescriptorsLeftText()) {
        endForLocalShortage();
        return;
    }
    m_result = code;
    switch (code) {
    case -1:
        m_output += reply + CrLf;
        break;
    case 0:
        m_info = QStringLiteral("An error occurred.");
        m_output += reply + CrLf;
        break;
    case 3:
        m_info = reply;
        m_output += reply + CrLf;
        break;
    case 1:
    case 2: {
        if (m_target.TimeOK)
            m_result = 1;
        QString rest;
        m_info = firstline(reply, rest);
        m_output += rest + CrLf;
        break;
    }
    default:
        break;
    }
    // The agent was expected, but only the port answered.
    if (m_result == 1 && m_target.UsePX)
        m_result = 2;
    setCaption(QString());
    runStep(Step::Echo);
}

void TargetCheck::echoAnswered(ProbeStatus code, const QString &msg)
{
    if (code == 0 && descriptorsExhausted()) {
        endForLocalShortage();
        return;
    }
    m_result = code;
    m_info = msg;
    m_output += msg + CrLf;
    // The host answers the echo but not the port or agent it should.
    if (m_result == 1 && (m_target.UseM || m_target.UsePX))
        m_result = 2;
    runStep(Step::NetWare);
}

void TargetCheck::undoEcho(TargetTable &table) const
{
    if (m_echoed && table.isValidIndex(m_index) && table[m_index].SmoothedRtt == m_rttAfter) {
        table[m_index].SmoothedRtt = m_rttBefore;
        table[m_index].LastRtt = m_lastRttBefore;
        table[m_index].LastRttMicros = m_lastRttMicrosBefore;
    }
}

bool TargetCheck::startedFrom(const Target &target) const
{
    const Target &d = m_target;
    if (m_echoed && target.SmoothedRtt != m_rttAfter)
        return false;
    return d.Hostname == target.Hostname && d.Port == target.Port && d.PXPort == target.PXPort
        && d.UsePX == target.UsePX && d.UseM == target.UseM && d.UseP == target.UseP
        && d.UseIPX == target.UseIPX && d.Timeout == target.Timeout && d.TimeOK == target.TimeOK
        && d.Slots == target.Slots && d.MinSlots == target.MinSlots && d.RTT == target.RTT;
}

void TargetCheck::finish()
{
    if (m_result == -1) {
        m_result = 3;
        m_info = QStringLiteral("All checks failed.");
    }
    m_finished = true;
    Q_EMIT finished(m_index);
}

} // namespace sentrel
