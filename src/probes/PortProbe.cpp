#include "probes/PortProbe.h"

#include "probes/Descriptors.h"
#include "probes/UniqueFd.h"
#include "probes/WinSock.h"
#include "probes/WireText.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace sentrel {

namespace {

constexpr char EOT = '\x04';
constexpr int ReadWaitMs = 1000;

const QString TimeoutOnRead = QStringLiteral("\r\n*** Timeout on read ***");
const QString ErrorOnRead = QStringLiteral("\r\n*** Error on read ***");
const QString ReplyTooLong = QStringLiteral("\r\n*** Reply too long ***");
const QString ReadTimeLimitExceeded = QStringLiteral("\r\n*** Read time limit exceeded ***");

// Ports travel as 16-bit signed values; the text shows the port itself, so
// 40000 reads "40000", not "-25536".
QString spacedPort(int16_t port)
{
    return spaced(uint16_t(port));
}

} // namespace

QByteArray QuitText(int16_t port)
{
    switch (uint16_t(port)) {
    case 80:
        return QByteArrayLiteral("GET\n\n\n\x04\n");
    case 23:
        return QByteArray(1, EOT);
    case 13:
        return {};
    case 25:
        return QByteArrayLiteral("QUIT\r\n");
    case 1352:
        return QByteArrayLiteral("QUIT\n");
    default:
        return QByteArrayLiteral("\x04\r\nexit\r\nquit\r\n\r\n");
    }
}

void todos(QString &text)
{
    const QChar cr(u'\r');
    const QChar lf(u'\n');
    QString out;
    out.reserve(text.size() + text.size() / 8 + 2);
    QChar previous;
    for (const QChar c : std::as_const(text)) {
        if (c == lf && previous != cr)
            out += cr;
        if (c != QChar(u'\x04') && c != QChar(u'\0'))
            out += c;
        previous = c;
    }
    if (previous == cr)
        out += lf;
    qsizetype blanks = 0;
    while (blanks < out.size() && out.at(blanks) == QChar(u' '))
        ++blanks;
    out.remove(0, blanks);
    text = std::move(out);
}

ProbeOutcome connectFailure(int wsaCode, int16_t port)
{
    switch (wsaCode) {
    case WsaError::ConnRefused:
        return {-1, QStringLiteral("Connection refused on port ") + spacedPort(port)};
    case WsaError::TimedOut:
    case WsaError::HostDown:
    // Linux reports a silent host on the local network as unreachable (no ARP
    // answer) where the reference stack said "host down".
    case WsaError::HostUnreachable:
        return {3, QStringLiteral("Host not responding on port ") + spacedPort(port)};
    default:
        return {0, GetWinsockErrorText(wsaCode)};
    }
}

// The steps of one probe, each entered from the event loop. A notifier handler
// never closes the socket itself: it hands the ending step to the yield timer,
// so that no notifier is deleted inside its own activation. The result is
// always reported from the yield timer.
class PortProbe::Impl
{
public:
    Impl(const HostAddress &address, int16_t port, int16_t timeOut, bool dosend, AbortFlag abort,
        ProgressSink progress, Finished finished)
        : m_address(address)
        , m_port(port)
        , m_timeOut(timeOut)
        , m_dosend(dosend)
        , m_abort(std::move(abort))
        , m_progress(std::move(progress))
        , m_finished(std::move(finished))
    {
        m_waitTimer.setSingleShot(true);
        m_yieldTimer.setSingleShot(true);
        m_yieldTimer.setInterval(0);
        QObject::connect(&m_waitTimer, &QTimer::timeout, &m_waitTimer, [this] { onWaitTimeout(); });
        QObject::connect(&m_yieldTimer, &QTimer::timeout, &m_yieldTimer, [this] {
            auto next = std::move(m_next);
            m_next = nullptr;
            next();
        });
        yieldThen([this] { start(); });
    }

    std::chrono::milliseconds connectTimeout {std::chrono::seconds(ConnectTimeoutSeconds)};

private:
    enum class Wait { None, Connect, Send, Read };

    void yieldThen(std::function<void()> next)
    {
        m_next = std::move(next);
        m_yieldTimer.start();
    }

    void caption(const QString &text)
    {
        if (m_progress)
            m_progress(text);
    }

    void start()
    {
        const int family = m_address.isIpv6 ? AF_INET6 : AF_INET;
        m_fd = UniqueFd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!m_fd) {
            // Not the host's fault: the check says so in words and is not taken for DOWN.
            if (errno == EMFILE || errno == ENFILE) {
                finishNow(0, noDescriptorsLeftText());
                return;
            }
            const int code = wsaErrorFromErrno(errno);
            finishNow(0, QStringLiteral("Unable to create socket: ") + GetWinsockErrorText(code));
            return;
        }
        m_readNotifier = std::make_unique<QSocketNotifier>(m_fd.get(), QSocketNotifier::Read);
        m_writeNotifier = std::make_unique<QSocketNotifier>(m_fd.get(), QSocketNotifier::Write);
        m_readNotifier->setEnabled(false);
        m_writeNotifier->setEnabled(false);
        QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, m_readNotifier.get(),
            [this] { onReadable(); });
        QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, m_writeNotifier.get(),
            [this] { onWritable(); });
        caption(QStringLiteral("Connecting..."));
        yieldThen([this] { connectStep(); });
    }

    void connectStep()
    {
        m_bytes.clear();
        sockaddr_storage address {};
        const socklen_t length = toSockaddr(m_address, uint16_t(m_port), address);
        if (::connect(m_fd.get(), reinterpret_cast<const sockaddr *>(&address), length) == 0) {
            connected();
            return;
        }
        if (errno != EINPROGRESS) {
            connectFailed(wsaErrorFromErrno(errno));
            return;
        }
        beginWait(Wait::Connect, m_writeNotifier.get(), int(connectTimeout.count()));
    }

    void connectFailed(int code)
    {
        ProbeOutcome outcome = connectFailure(code, m_port);
        closeSocket();
        finishLater(outcome.status, std::move(outcome.text));
    }

    void connected()
    {
        yieldThen([this] { sendStep(); });
    }

    void sendStep()
    {
        m_quitText = m_dosend ? QuitText(m_port) : QByteArray();
        if (m_quitText.isEmpty()) {
            startReading();
            return;
        }
        caption(QStringLiteral("Sending..."));
        beginWait(Wait::Send, m_writeNotifier.get(), SendWaitSeconds * 1000);
    }

    void sendNow()
    {
        // Ordinary data in one call. With the urgent flag a Linux or BSD receiver takes
        // the last byte out of the stream, so a mail server would see "QUIT" CR and
        // wait for a LF that never comes.
        if (::send(m_fd.get(), m_quitText.constData(), size_t(m_quitText.size()), MSG_NOSIGNAL) < 0) {
            const int err = errno;
            if (err == ECONNRESET || err == EPIPE) {
                // The peer answered and reset before our text went out (a banner service
                // that closes at once): its reply is still buffered. Read it as if the reset
                // had come after the text, so the result does not depend on which was first.
                m_quitTextSent = true;
                m_peerReset = true;
                startReading();
                return;
            }
            const int code = wsaErrorFromErrno(err);
            yieldThen([this, code] {
                closeSocket();
                finishNow(0, QStringLiteral("Send: ") + GetWinsockErrorText(code));
            });
            return;
        }
        m_quitTextSent = true;
        startReading();
    }

    void startReading()
    {
        m_result = 1;
        m_idleCounter = effectiveIdleTimeout(m_timeOut);
        m_bytes.clear();
        m_replyBytes = 0;
        m_readClock.start();
        readIteration();
    }

    void readIteration()
    {
        caption(QStringLiteral("Reading: ") + spaced(m_idleCounter));
        yieldThen([this] { readWait(); });
    }

    void readWait()
    {
        if (m_abort && m_abort()) {
            endReading();
            return;
        }
        if (m_readClock.elapsed() >= readTimeLimitMs(m_timeOut)) {
            endReading(ReadTimeLimitExceeded);
            return;
        }
        beginWait(Wait::Read, m_readNotifier.get(), ReadWaitMs);
    }

    void receive()
    {
        char chunk[ReceiveChunk];
        // One byte beyond the cap tells a reply that is too long from one that
        // ends exactly at the cap.
        const int room = std::min(ReceiveChunk, MaxReplyBytes + 1 - m_replyBytes);
        const ssize_t n = ::recv(m_fd.get(), chunk, size_t(room), 0);
        if (n < 0) {
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR)
                return; // spurious wake-up: keep waiting within the same second
            endWait();
            // A server that answers and closes without reading all of our closing
            // text (sshd reads one line, banner services read nothing) makes its
            // kernel send a reset instead of a FIN: that is its close, not a fault.
            if ((err == ECONNRESET || m_peerReset) && m_quitTextSent && m_replyBytes > 0) {
                yieldThen([this] { endReading(); });
                return;
            }
            yieldThen([this] { endReading(ErrorOnRead); });
            return;
        }
        endWait();
        if (n == 0) {
            // After a reset that the send took, the end of the buffered data is all the
            // read sees: without a reply byte it is the same error as a reset seen here.
            const bool resetWithoutReply = m_peerReset && m_replyBytes == 0;
            yieldThen([this, resetWithoutReply] { endReading(resetWithoutReply ? ErrorOnRead : QString()); });
            return;
        }
        const int kept = std::min(int(n), MaxReplyBytes - m_replyBytes);
        m_bytes.append(chunk, kept);
        m_replyBytes += kept;
        if (kept < n) {
            yieldThen([this] { endReading(ReplyTooLong); });
            return;
        }
        readIteration();
    }

    void endReading(const QString &trouble = {})
    {
        QString text = decodeReply(m_bytes);
        if (!trouble.isEmpty()) {
            m_result = 2;
            text += trouble;
        }
        closeSocket();
        todos(text);
        caption(QString());
        finishLater(m_result, std::move(text));
    }

    void beginWait(Wait wait, QSocketNotifier *notifier, int timeoutMs)
    {
        m_wait = wait;
        notifier->setEnabled(true);
        m_waitTimer.start(timeoutMs);
    }

    void endWait()
    {
        m_wait = Wait::None;
        m_waitTimer.stop();
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        if (m_writeNotifier)
            m_writeNotifier->setEnabled(false);
    }

    void onWritable()
    {
        const Wait wait = m_wait;
        endWait();
        if (wait == Wait::Connect) {
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) < 0)
                err = errno;
            // A peer that answers and resets at once can do both before this wait ends: the
            // connection was made, and the reply is buffered for the read.
            if (err == 0 || err == ECONNRESET)
                connected();
            else
                yieldThen([this, err] { connectFailed(wsaErrorFromErrno(err)); });
        } else if (wait == Wait::Send) {
            sendNow();
        }
    }

    void onReadable()
    {
        if (m_wait == Wait::Read)
            receive();
    }

    void onWaitTimeout()
    {
        const Wait wait = m_wait;
        endWait();
        switch (wait) {
        case Wait::Connect:
            connectFailed(WsaError::TimedOut);
            break;
        case Wait::Send:
            // The text is not sent and nothing is reported.
            startReading();
            break;
        case Wait::Read:
            if (--m_idleCounter <= 0)
                endReading(TimeoutOnRead);
            else
                readIteration();
            break;
        case Wait::None:
            break;
        }
    }

    void closeSocket()
    {
        endWait();
        m_readNotifier.reset();
        m_writeNotifier.reset();
        m_fd.reset();
    }

    // Runs only as a yield-timer step and touches no member after the callback,
    // which may destroy the probe.
    void finishNow(ProbeStatus status, const QString &text)
    {
        Finished finished = std::move(m_finished);
        m_finished = nullptr;
        if (finished)
            finished(status, text);
    }

    void finishLater(ProbeStatus status, QString text)
    {
        yieldThen([this, status, text = std::move(text)] { finishNow(status, text); });
    }

    const HostAddress m_address;
    const int16_t m_port;
    const int16_t m_timeOut;
    const bool m_dosend;
    AbortFlag m_abort;
    ProgressSink m_progress;
    Finished m_finished;

    QByteArray m_quitText;
    bool m_quitTextSent = false;
    bool m_peerReset = false;
    QByteArray m_bytes;
    int m_replyBytes = 0;
    ProbeStatus m_result = 1;
    int m_idleCounter = 0;
    QElapsedTimer m_readClock;
    Wait m_wait = Wait::None;
    std::function<void()> m_next;

    // Declared after the descriptor so that they are destroyed before it is closed.
    UniqueFd m_fd;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer m_waitTimer;
    QTimer m_yieldTimer;
};

PortProbe::PortProbe(const HostAddress &address, int16_t port, int16_t timeOut, bool dosend,
    AbortFlag abortRequested, ProgressSink progress, Finished finished, QObject *parent)
    : QObject(parent)
    , m_impl(std::make_unique<Impl>(address, port, timeOut, dosend, std::move(abortRequested),
          std::move(progress), std::move(finished)))
{ }

PortProbe::PortProbe(uint32_t ipaddr, int16_t port, int16_t timeOut, bool dosend, AbortFlag abortRequested,
    ProgressSink progress, Finished finished, QObject *parent)
    : PortProbe(HostAddress::fromIpv4(ipaddr), port, timeOut, dosend, std::move(abortRequested),
        std::move(progress), std::move(finished), parent)
{ }

PortProbe::~PortProbe() = default;

void PortProbe::setConnectTimeout(std::chrono::milliseconds timeout)
{
    m_impl->connectTimeout = timeout;
}

std::unique_ptr<PortProbe> checkport(uint32_t ipaddr, int16_t port, int16_t timeOut, bool dosend,
    AbortFlag abortRequested, ProgressSink progress, PortProbe::Finished finished)
{
    return std::make_unique<PortProbe>(
        ipaddr, port, timeOut, dosend, std::move(abortRequested), std::move(progress), std::move(finished));
}

std::unique_ptr<PortProbe> checkport(const HostAddress &address, int16_t port, int16_t timeOut, bool dosend,
    AbortFlag abortRequested, ProgressSink progress, PortProbe::Finished finished)
{
    return std::make_unique<PortProbe>(
        address, port, timeOut, dosend, std::move(abortRequested), std::move(progress), std::move(finished));
}

} // namespace sentrel
