#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <memory>
#include <vector>

class QTcpSocket;

namespace pellix {

class ReportSource;

// Serves the report over TCP from the event loop: one report per connection, written and
// then closed. What clients send is read only to be discarded. At most `maxConnections`
// are served at once; further ones wait in the kernel's listen queue. A report is gathered
// at most once a second: connections that arrive within a second of a gathering's start
// get its report.
class AgentServer : public QObject
{
    Q_OBJECT
public:
    AgentServer(ReportSource &source, int maxConnections, QObject *parent = nullptr);
    ~AgentServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_server.errorString(); }
    quint16 serverPort() const { return m_server.serverPort(); }

    int openConnections() const { return int(m_connections.size()); }
    // The most connections ever open at the same time.
    int peakConnections() const { return m_peak; }
    int gatherings() const { return m_gatherings; }

    // A connection whose report is out gets this long to close its side before it is dropped.
    static constexpr int LingerMs = 5000;
    static constexpr int FreshMs = 1000;

private:
    struct Connection;
    void acceptWaiting();
    void reportReady(const QByteArray &report);
    void send(Connection &c);
    void drop(QTcpSocket *socket);

    ReportSource &m_source;
    int m_max;
    QTcpServer m_server;
    std::vector<std::unique_ptr<Connection>> m_connections;
    // Dropped connections, freed from the event loop since a drop may come from their own signals.
    std::vector<std::unique_ptr<Connection>> m_dropped;
    QByteArray m_report;
    QElapsedTimer m_gatherStarted; // monotonic
    bool m_gathering = false;
    int m_peak = 0;
    int m_gatherings = 0;
};

// "ADDR:PORT" or "[ADDR6]:PORT" into its parts; false when it is not one.
bool parseListenAddress(const QString &text, QHostAddress &address, quint16 &port);

} // namespace pellix
