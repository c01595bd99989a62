#include "AgentServer.h"

#include "Gatherer.h"

#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace pellix {

struct AgentServer::Connection
{
    std::unique_ptr<QTcpSocket> socket;
    QTimer linger;
    bool sent = false;
    bool shut = false;
};

AgentServer::AgentServer(ReportSource &source, int maxConnections, QObject *parent)
    : QObject(parent)
    , m_source(source)
    , m_max(maxConnections > 0 ? maxConnections : 1)
{
    // Accepted sockets beyond the ones being served stay in the kernel's queue, not ours.
    m_server.setMaxPendingConnections(1);
    connect(&m_server, &QTcpServer::newConnection, this, &AgentServer::acceptWaiting);
    connect(&m_source, &ReportSource::reportReady, this, &AgentServer::reportReady);
}

AgentServer::~AgentServer()
{
    for (auto &c : m_connections)
        c->socket->disconnect(this);
}

bool AgentServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void AgentServer::acceptWaiting()
{
    while (int(m_connections.size()) < m_max && m_server.hasPendingConnections()) {
        QTcpSocket *socket = m_server.nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(nullptr);
        m_connections.push_back(std::make_unique<Connection>());
        Connection *c = m_connections.back().get();
        c->socket.reset(socket);
        m_peak = std::max(m_peak, int(m_connections.size()));
        connect(socket, &QTcpSocket::readyRead, this, [socket] { socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { drop(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [c] {
            // Half-close once the report is out, then wait for the client to close: closing
            // with unread client bytes would reset the connection and could destroy the
            // report before the client has read it.
            if (c->sent && !c->shut && c->socket->bytesToWrite() == 0) {
                c->shut = true;
                ::shutdown(int(c->socket->socketDescriptor()), SHUT_WR);
            }
        });
        c->linger.setSingleShot(true);
        connect(&c->linger, &QTimer::timeout, this, [this, socket] { drop(socket); });

        if (!m_gathering && !m_report.isEmpty() && m_gatherStarted.isValid()
            && m_gatherStarted.elapsed() < FreshMs)
            send(*c);
        else if (!m_gathering) {
            m_gathering = true;
            ++m_gatherings;
            m_gatherStarted.start();
            m_source.requestReport();
        }
    }
    if (int(m_connections.size()) >= m_max)
        m_server.pauseAccepting();
}

void AgentServer::reportReady(const QByteArray &report)
{
    m_gathering = false;
    m_report = report;
    std::vector<Connection *> waiting;
    for (const auto &c : m_connections) {
        if (!c->sent)
            waiting.push_back(c.get());
    }
    for (Connection *c : waiting)
        send(*c);
}

void AgentServer::send(Connection &c)
{
    c.sent = true;
    c.linger.start(LingerMs);
    c.socket->write(m_report);
}

void AgentServer::drop(QTcpSocket *socket)
{
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
        [socket](const auto &c) { return c->socket.get() == socket; });
    if (it == m_connections.end())
        return;
    (*it)->linger.stop();
    socket->disconnect(this);
    socket->abort();
    m_dropped.push_back(std::move(*it));
    m_connections.erase(it);
    QTimer::singleShot(0, this, [this] { m_dropped.clear(); });
    if (int(m_connections.size()) < m_max) {
        m_server.resumeAccepting();
        // Connections that Qt already accepted while we were full emit no new signal.
        QTimer::singleShot(0, this, &AgentServer::acceptWaiting);
    }
}

bool parseListenAddress(const QString &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false; // an IPv6 address needs its brackets
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p == 0 || p > 65535 || !address.setAddress(host))
        return false;
    port = quint16(p);
    return true;
}

} // namespace pellix
