#pragma once

#include "probes/HostAddress.h"
#include "probes/UniqueFd.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace sentrel::test {

// `dotted` (a loopback address such as "127.0.0.1") in network order.
uint32_t loopbackAddress(const char *dotted = "127.0.0.1");

// What a LoopbackServer does with every connection it accepts.
struct PeerScript
{
    enum class Then {
        Close, // send the greeting, then half-close and read until the client closes
        Silent, // send the greeting, then nothing; never close
        // send the greeting, then `chunk` every `intervalMs` (0: as fast as the loop turns); never close
        Trickle,
        // send the greeting, then read one byte at a time, as sshd does, until a line (LF
        // included) equals `answerTo` (empty: any line); then send `answer` and close at
        // once, leaving any later client bytes unread
        Answer,
    };
    PeerScript(QByteArray greeting = {}, Then then = Then::Close)
        : greeting(std::move(greeting))
        , then(then)
    { }

    QByteArray greeting;
    Then then;
    QByteArray chunk = QByteArrayLiteral(".");
    int intervalMs = 1000;
    QByteArray answerTo;
    QByteArray answer;
};

// A TCP server on a loopback address, driven by the Qt event loop, that plays
// `PeerScript` on every connection and records every byte the clients send.
// The address may also be an IPv6 literal ("::1", "fe80::5%dev").
class LoopbackServer : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackServer(PeerScript script, const QByteArray &dotted = QByteArrayLiteral("127.0.0.1"),
        uint16_t port = 0, QObject *parent = nullptr);
    ~LoopbackServer() override;

    bool isListening() const { return m_listener.valid(); }
    // Why listening failed ("bind 127.0.0.1:13: Permission denied").
    QString errorString() const { return m_error; }
    uint16_t port() const { return m_port; }
    uint32_t address() const { return m_address; }

    int acceptedCount() const { return m_accepted; }
    // Connections not yet closed by the client.
    int openCount() const { return int(m_connections.size()); }
    // Bytes received in the normal stream.
    QByteArray received() const { return m_received; }
    // Accepts every waiting connection and aborts all open ones with a reset at
    // once; returns how many were reset.
    int resetAll();

    struct Connection;

private:
    void acceptAll();
    void onReadable(Connection &c);
    void answerLine(Connection &c, char byte);
    void queue(Connection &c, const QByteArray &bytes);
    void flush(Connection &c);
    void drop(Connection &c);

    PeerScript m_script;
    QString m_error;
    uint16_t m_port = 0;
    uint32_t m_address = 0;
    int m_accepted = 0;
    QByteArray m_received;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<std::unique_ptr<Connection>> m_dropped;
    UniqueFd m_listener;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
};

// A loopback port whose connection attempts are never answered: a listener with
// a full accept queue, so the kernel drops further SYNs and connects hang.
class UnansweredPort
{
public:
    UnansweredPort();
    // False when the kernel answered anyway; the reason is in errorString().
    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }
    uint16_t port() const { return m_port; }
    uint32_t address() const { return loopbackAddress(); }

private:
    UniqueFd m_listener;
    std::vector<UniqueFd> m_fillers;
    uint16_t m_port = 0;
    bool m_valid = false;
    QString m_error;
};

} // namespace sentrel::test
