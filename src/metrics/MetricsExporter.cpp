#include "metrics/MetricsExporter.h"

#include "metrics/ClientSlots.h"
#include "probes/UniqueFd.h"

#include <prometheus/text_serializer.h>

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace sentrel {

namespace {

// What the text format's content type has been since Prometheus 0.4.
constexpr const char *TextFormat = "text/plain; version=0.0.4; charset=utf-8";
// Prometheus sends a request of a few hundred bytes; this holds it and the reply's headers
// many times over, and a request that does not fit is refused by the library.
constexpr size_t ConnectionMemory = 16 * 1024;
// The library's own limits stand behind ours and should never be reached: the connections
// dropped to make room close on the server's next turn, a few accepts later.
constexpr unsigned LimitMargin = 32;

// Marks, kept as the library's per-request value, of a request for exactly /metrics: first
// as its request line names it, then once its headers have been seen.
char ExactPath;
char ExactPathHeard;

QString endpoint(const QString &address, uint16_t port)
{
    return (address.contains(u':') ? u'[' + address + u']' : address) + u':' + QString::number(port);
}

QString listenError(int error)
{
    switch (error) {
    case EADDRINUSE:
        return QStringLiteral("address already in use");
    case EADDRNOTAVAIL:
        return QStringLiteral("address not available on this machine");
    case EAFNOSUPPORT:
        return QStringLiteral("IPv6 is not available on this machine");
    case EACCES:
        return QStringLiteral("permission denied");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("no file descriptors left");
    default:
        if (const char *text = ::strerrordesc_np(error)) {
            QString words = QString::fromLatin1(text);
            words[0] = words[0].toLower();
            return words;
        }
        return QStringLiteral("error ") + QString::number(error);
    }
}

// Only the path itself answers: not another case, not a doubled slash, and not an escape
// that the library would decode into it. A query is not part of the path.
bool isExactPath(const char *rawUri)
{
    constexpr std::string_view path = "/metrics";
    const std::string_view uri(rawUri);
    return uri.substr(0, path.size()) == path && (uri.size() == path.size() || uri[path.size()] == '?');
}

} // namespace

MetricsLimits metricsLimitsFor(uint64_t openFiles)
{
    MetricsLimits limits;
    limits.total = static_cast<size_t>(std::clamp<uint64_t>(openFiles / 4, 4, limits.total));
    limits.perClient = std::min(limits.perClient, std::max<size_t>(limits.total / 4, 1));
    return limits;
}

class MetricsExporter::Server
{
public:
    explicit Server(const MetricsLimits &limits)
        : m_limits(limits)
        , m_slots(limits.perClient, limits.total)
    { }

    ~Server()
    {
        if (m_daemon) {
            // Quiesced first, the library leaves the listening socket to its owner here.
            MHD_quiesce_daemon(m_daemon);
            MHD_stop_daemon(m_daemon);
        }
        for (MHD_Response *r : {m_metrics, m_notFound, m_notAllowed}) {
            if (r)
                MHD_destroy_response(r);
        }
    }

    bool listen(const QString &address, uint16_t port, QString &error);
    bool run(QString &error);
    void publish(const std::string &text);

    QString address;
    uint16_t port = 0;

private:
    static MHD_Response *refusal(const char *text, bool withAllow);
    static void *requestLine(void *cls, const char *uri, MHD_Connection *connection);
    static MHD_Result answer(void *cls, MHD_Connection *connection, const char *url, const char *method,
        const char *version, const char *upload, size_t *uploadSize, void **request);
    static void connectionChanged(
        void *cls, MHD_Connection *connection, void **context, MHD_ConnectionNotificationCode change);
    static void requestEnded(
        void *cls, MHD_Connection *connection, void **request, MHD_RequestTerminationCode how);

    const MetricsLimits m_limits;
    UniqueFd m_listener;
    MHD_Daemon *m_daemon = nullptr;
    MHD_Response *m_notFound = nullptr;
    MHD_Response *m_notAllowed = nullptr;
    // The finished reply to a scrape. The lock guards only the swap and the queueing of the
    // reply (which takes a reference of its own), never a transfer.
    std::mutex m_mutex;
    MHD_Response *m_metrics = nullptr;
    // Touched only on the server's thread.
    ClientSlots m_slots;
};

bool MetricsExporter::Server::listen(const QString &host, uint16_t wanted, QString &error)
{
    const QString where = endpoint(host, wanted);
    addrinfo hints {};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const QByteArray hostBytes = host.toLatin1();
    if (host.isEmpty()
        || ::getaddrinfo(hostBytes.constData(), std::to_string(wanted).c_str(), &hints, &found) != 0) {
        error = where + QStringLiteral(": not an IP address");
        return false;
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    UniqueFd fd(::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    bool ok = fd && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
    if (ok && found->ai_family == AF_INET6) {
        // "::" is every address, IPv4 ones too, whatever the system's default says.
        sockaddr_in6 v6;
        std::memcpy(&v6, found->ai_addr, sizeof v6);
        const int v6only = IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr) ? 0 : 1;
        ok = ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) == 0;
    }
    ok = ok && ::bind(fd.get(), found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd.get(), SOMAXCONN) == 0;
    sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    ok = ok && ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&bound), &length) == 0;
    if (!ok) {
        error = where + QStringLiteral(": ") + listenError(errno);
        return false;
    }
    const in_port_t netPort = bound.ss_family == AF_INET6
        ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
        : reinterpret_cast<sockaddr_in *>(&bound)->sin_port;
    port = ntohs(netPort);
    address = host;
    m_listener = std::move(fd);
    return true;
}

bool MetricsExporter::Server::run(QString &error)
{
    m_notFound = refusal("Not Found\n", false);
    m_notAllowed = refusal("Method Not Allowed\n", true);
    publish(std::string());
    if (!m_notFound || !m_notAllowed || !m_metrics) {
        error = endpoint(address, port) + QStringLiteral(": out of memory");
        return false;
    }
    // One thread waits on epoll for every connection; a thread per connection would let a
    // handful of silent clients take them all.
    m_daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC, 0, nullptr,
        nullptr, &Server::answer, this, MHD_OPTION_LISTEN_SOCKET, m_listener.get(),
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(m_limits.total) + LimitMargin,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(m_limits.perClient) + LimitMargin,
        MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        ConnectionMemory, MHD_OPTION_URI_LOG_CALLBACK, &Server::requestLine, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Server::connectionChanged, this, MHD_OPTION_NOTIFY_COMPLETED,
        &Server::requestEnded, this, MHD_OPTION_END);
    if (!m_daemon) {
        error = endpoint(address, port) + QStringLiteral(": the HTTP server could not start");
        return false;
    }
    return true;
}

void MetricsExporter::Server::publish(const std::string &text)
{
    MHD_Response *next =
        MHD_create_response_from_buffer(text.size(), const_cast<char *>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (!next)
        return;
    MHD_add_response_header(next, MHD_HTTP_HEADER_CONTENT_TYPE, TextFormat);
    {
        std::lock_guard lock(m_mutex);
        std::swap(m_metrics, next);
    }
    // A reply queued meanwhile holds its own reference, and the text lives until it is sent.
    if (next)
        MHD_destroy_response(next);
}

MHD_Response *MetricsExporter::Server::refusal(const char *text, bool withAllow)
{
    MHD_Response *r =
        MHD_create_response_from_buffer(std::strlen(text), const_cast<char *>(text), MHD_RESPMEM_PERSISTENT);
    if (!r)
        return nullptr;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    // The rest of a request that is refused is never read, so the connection cannot go on.
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
    if (withAllow)
        MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    return r;
}

void *MetricsExporter::Server::requestLine(void *, const char *uri, MHD_Connection *)
{
    // The library hands the access handler the path decoded; this is the one place it is raw.
    return isExactPath(uri) ? &ExactPath : nullptr;
}

MHD_Result MetricsExporter::Server::answer(void *cls, MHD_Connection *connection, const char *,
    const char *method, const char *, const char *, size_t *uploadSize, void **request)
{
    auto *server = static_cast<Server *>(cls);
    if (*request != &ExactPath && *request != &ExactPathHeard)
        return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, server->m_notFound);
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, server->m_notAllowed);
    // Answering only once the whole request has been read keeps the connection open for the
    // next scrape; a body nobody asked for is read and dropped.
    if (*request == &ExactPath) {
        *request = &ExactPathHeard;
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    std::lock_guard lock(server->m_mutex);
    return MHD_queue_response(connection, MHD_HTTP_OK, server->m_metrics);
}

void MetricsExporter::Server::connectionChanged(
    void *cls, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode change)
{
    auto *server = static_cast<Server *>(cls);
    const MHD_ConnectionInfo *fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (!fd)
        return;
    // Closing is announced before the descriptor is closed, so every descriptor the slots
    // hold is still this server's connection when it is shut down below.
    if (change == MHD_CONNECTION_NOTIFY_CLOSED) {
        server->m_slots.release(fd->connect_fd);
        return;
    }
    const MHD_ConnectionInfo *peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const ClientKey key = peer && peer->client_addr ? clientKey(peer->client_addr) : ClientKey {};
    try {
        // Shut down rather than closed: the library notices on its next turn, and closes and
        // forgets the connection itself.
        for (const int victim : server->m_slots.admit(fd->connect_fd, key))
            ::shutdown(victim, SHUT_RDWR);
    } catch (const std::bad_alloc &) {
        // Nothing held then; the library's own limits and time-out still apply.
    }
}

void MetricsExporter::Server::requestEnded(
    void *cls, MHD_Connection *connection, void **, MHD_RequestTerminationCode how)
{
    if (how != MHD_REQUEST_TERMINATED_COMPLETED_OK)
        return;
    if (const MHD_ConnectionInfo *fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
        static_cast<Server *>(cls)->m_slots.answered(fd->connect_fd);
}

MetricsExporter::MetricsExporter(std::unique_ptr<Server> server)
    : m_server(std::move(server))
{ }

MetricsExporter::~MetricsExporter() = default;

std::unique_ptr<MetricsExporter> MetricsExporter::start(
    const QString &address, uint16_t port, QString &error, const MetricsLimits *limits)
{
    rlimit files {};
    const MetricsLimits chosen = limits ? *limits
        : ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
        ? metricsLimitsFor(files.rlim_cur)
        : MetricsLimits {};
    auto server = std::make_unique<Server>(chosen);
    if (!server->listen(address, port, error) || !server->run(error))
        return nullptr;
    return std::unique_ptr<MetricsExporter>(new MetricsExporter(std::move(server)));
}

uint16_t MetricsExporter::port() const
{
    return m_server->port;
}

QString MetricsExporter::url() const
{
    return QStringLiteral("http://") + endpoint(m_server->address, m_server->port)
        + QStringLiteral("/metrics");
}

void MetricsExporter::publish(const std::vector<prometheus::MetricFamily> &families)
{
    m_server->publish(prometheus::TextSerializer().Serialize(families));
}

} // namespace sentrel
