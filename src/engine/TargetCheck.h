#pragma once

#include "engine/Target.h"
#include "probes/IcmpProbe.h"
#include "probes/PortProbe.h"

#include <QObject>

#include <memory>

namespace sentrel {

class HostResolver;
class NetWareClient;

// What one Target's check needs from the program around it.
struct ProbeKit
{
    HostResolver *resolver = nullptr;
    IcmpEchoService *icmp = nullptr;
    NetWareClient *netware = nullptr;
    TargetTable *table = nullptr;
    const GlobalSettings *settings = nullptr;
    AbortFlag abortRequested;
};

// One Target's check: its methods in order of preference, each only while the
// ones before it got no answer. It works on a copy of the Target's definition and
// keeps its results to itself until the cycle applies them. Destroying it
// cancels every probe it has running.
class TargetCheck : public QObject
{
    Q_OBJECT
public:
    TargetCheck(int16_t index, const Target &target, const ProbeKit &kit, QObject *parent = nullptr);
    ~TargetCheck() override;

    // Starts the check; `finished` is emitted from the event loop, never inside start().
    void start();

    int16_t index() const { return m_index; }
    bool isFinished() const { return m_finished; }
    ProbeStatus result() const { return m_result; }
    const QString &info() const { return m_info; }
    const QString &output() const { return m_output; }
    // The last progress caption of the probe that runs now ("" between probes).
    const QString &caption() const { return m_caption; }
    // Whether an echo was sent for this check (its answer is the Target's LastRtt).
    bool echoed() const { return m_echoed; }
    // For a check that is dropped unapplied: gives the Target back the round-trip times its echo
    // replaced, unless something else has changed it since.
    void undoEcho(TargetTable &table) const;
    // Whether the check still stands for `target`: started from the same definition, and no one
    // has changed the round-trip average its echo left.
    bool startedFrom(const Target &target) const;

Q_SIGNALS:
    void finished(int16_t index);
    void captionChanged(int16_t index, const QString &caption);

private:
    enum class Step { Agent, Port, Echo, NetWare, Done };
    using Answer = std::function<void(ProbeStatus, const QString &)>;
    Answer answerTo(void (TargetCheck::*step)(ProbeStatus, const QString &));
    void advance(Step next);
    void runStep(Step step);
    void agentAnswered(ProbeStatus code, const QString &reply);
    void portAnswered(ProbeStatus code, const QString &reply);
    void echoAnswered(ProbeStatus code, const QString &msg);
    void setCaption(const QString &caption);
    void endForLocalShortage();
    void finish();

    int16_t m_index;
    Target m_target;
    ProbeKit m_kit;
    int16_t m_timeout = 60;
    HostAddress m_address;
    ProbeStatus m_result = -1;
    QString m_info;
    QString m_output;
    QString m_caption;
    bool m_finished = false;
    bool m_echoed = false;
    double m_rttBefore = 0.0;
    double m_rttAfter = 0.0;
    int m_lastRttBefore = -1;
    int64_t m_lastRttMicrosBefore = -1;
    std::unique_ptr<PortProbe> m_port;
    std::unique_ptr<IcmpEchoService::Echo> m_echo;
};

} // namespace sentrel
