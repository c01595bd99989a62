#pragma once

#include "UniqueFd.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace pellix {

class ReportSource;

// Serves the report over TCP from the event loop: one report per connection, written, the
// sending side shut, then closed. What clients send is read only to be discarded.
//
// A client that shuts its sending side while it waits (a half-close after its request, or
// a close: the two look alike) frees its slot at once and still gets its report.
//
// Limits, so that no client holds what the others need:
// - At most `maxConnections` connections wait for a report at once, at most
//   `maxPerAddress` of them from one address (one /64 for IPv6); a connection over its
//   address's share is closed at once, further ones wait in the kernel's listen queue.
// - A connection whose report is written no longer counts: it is given `DrainMs` to close
//   its side (so that its unread bytes do not reset the report in flight), then closed,
//   and it is closed at once when the client closes or resets. Draining connections are
//   bounded by the open-file limit; beyond it the oldest is closed first.
// - A report is gathered at most once a second: connections that arrive within a second of
//   a gathering's start get its report without waiting.
class AgentServer : public QObject
{
    Q_OBJECT
public:
    AgentServer(ReportSource &source, int maxConnections, int maxPerAddress, QObject *parent = nullptr);
    ~AgentServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_error; }
    quint16 serverPort() const { return m_port; }

    // Connections waiting for their report.
    int servedConnections() const { return int(m_waiting.size()); }
    // Those, the ones that shut their side while waiting, and the ones draining after their
    // report.
    int openConnections() const { return int(m_waiting.size() + m_parked.size() + m_draining.size()); }
    // The most connections ever waiting for a report at the same time.
    int peakConnections() const { return m_peak; }
    int gatherings() const { return m_gatherings; }

    static constexpr int DrainMs = 1000;
    static constexpr int FreshMs = 1000;

private:
    struct Connection;
    using ConnectionList = std::vector<std::unique_ptr<Connection>>;
    void acceptWaiting();
    bool acceptOne();
    void reportReady(const QByteArray &report);
    enum class Drained { Open, Shut, Gone };
    void watch(Connection *c);
    bool flush(Connection *c);
    Drained discardInput(Connection *c);
    void send(std::unique_ptr<Connection> c);
    void readable(Connection *c);
    void writable(Connection *c);
    void startDraining(std::unique_ptr<Connection> c);
    std::unique_ptr<Connection> take(Connection *c);
    void drop(std::unique_ptr<Connection> c);
    void dropExpired();
    void slotFreed();
    bool fresh() const;

    ReportSource &m_source;
    int m_max;
    int m_maxPerAddress;
    int m_maxDraining;
    UniqueFd m_listener;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    QTimer m_acceptRetry; // after running out of descriptors
    QTimer m_drainTimer;
    QString m_error;
    quint16 m_port = 0;
    ConnectionList m_waiting;
    ConnectionList m_parked; // shut their side while waiting: no longer counted, oldest first
    ConnectionList m_draining; // oldest first
    std::map<QByteArray, int> m_waitingPerAddress;
    QByteArray m_report;
    QElapsedTimer m_clock; // monotonic, for the drain deadlines
    QElapsedTimer m_gatherStarted; // monotonic
    bool m_gathering = false;
    int m_peak = 0;
    int m_gatherings = 0;
};

// "ADDR:PORT" or "[ADDR6]:PORT" into its parts; false when it is not one.
bool parseListenAddress(const QString &text, QHostAddress &address, quint16 &port);

} // namespace pellix
