// The metrics server's handling of what a client sends, through a real connection on
// loopback: whatever arrives, the client gets HTTP responses or nothing, the metrics only for
// a GET or HEAD of exactly /metrics, and the connection closed once the client has said all
// it will say. The parsing of the request is the HTTP library's; the choice of answer is ours.
#include "FuzzTarget.h"

#include "metrics/MetricsExporter.h"

#include <prometheus/client_metric.h>
#include <prometheus/metric_family.h>
#include <prometheus/metric_type.h>

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>

using namespace sentrel;

namespace {

constexpr std::string_view Marker = "sentrel_fuzz_marker 7";

MetricsExporter &server()
{
    static const std::unique_ptr<MetricsExporter> exporter = [] {
        QString error;
        std::unique_ptr<MetricsExporter> started =
            MetricsExporter::start(QStringLiteral("127.0.0.1"), 0, error);
        FUZZ_REQUIRE(started);
        prometheus::MetricFamily family;
        family.name = "sentrel_fuzz_marker";
        family.help = "A value only a scrape of the metrics returns.";
        family.type = prometheus::MetricType::Gauge;
        prometheus::ClientMetric metric;
        metric.gauge.value = 7;
        family.metric.push_back(metric);
        started->publish({family});
        return started;
    }();
    return *exporter;
}

class Connection
{
public:
    Connection()
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        FUZZ_REQUIRE(m_fd >= 0);
    }
    ~Connection() { ::close(m_fd); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// What the server sends for request until it closes the connection or falls silent. A
// request cut short keeps the connection until the server's idle time-out, also after the
// client's end (the HTTP library reads on only once a request is whole), so silence, not the
// close, ends the wait: loopback answers come at once.
void exchange(QByteArrayView request, std::string &reply)
{
    Connection c;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(server().port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_REQUIRE(::connect(c.fd(), reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0);
    // The server may refuse and close before it has read everything; the rest is not sent.
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::send(c.fd(), request.data() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
    ::shutdown(c.fd(), SHUT_WR);
    constexpr int SilenceMs = 30;
    char buffer[65536];
    for (;;) {
        pollfd p {c.fd(), POLLIN, 0};
        const int ready = ::poll(&p, 1, SilenceMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return;
        const ssize_t n = ::recv(c.fd(), buffer, sizeof buffer, 0);
        if (n > 0) {
            reply.append(buffer, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        FUZZ_REQUIRE(n == 0 || errno == ECONNRESET);
        return;
    }
}

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

// The text of s as a C string: the HTTP library hands on the method and the path that way,
// so they end at their first NUL.
std::string_view asCString(std::string_view s)
{
    return s.substr(0, s.find('\0'));
}

// Whether the request line, as the HTTP library reads it, asks for the metrics: lines that are
// empty as C strings come before it and are skipped, its method and path are the words before
// and after its first blanks, each up to its first NUL, and a query is not part of the path.
bool asksForMetrics(std::string_view request)
{
    std::string_view line;
    while (line.empty() && !request.empty()) {
        const size_t end = request.find('\n');
        line = request.substr(0, end);
        request.remove_prefix(end == std::string_view::npos ? request.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        line = asCString(line).empty() ? std::string_view() : line;
    }
    const size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return false;
    const std::string_view method = asCString(line.substr(0, space));
    std::string_view target = line.substr(space);
    target.remove_prefix(std::min(target.find_first_not_of(" \t"), target.size()));
    target = asCString(target.substr(0, target.find_first_of(" \t")));
    return (method == "GET" || method == "HEAD") && (target == "/metrics" || startsWith(target, "/metrics?"));
}

void fuzzMetricsRequest(QByteArrayView input)
{
    std::string reply;
    exchange(input, reply);
    const std::string_view sent(input.data(), size_t(input.size()));
    if (reply.empty())
        return;
    FUZZ_REQUIRE(startsWith(reply, "HTTP/1."));
    const std::string_view status = std::string_view(reply).substr(8, 5);
    if (status == " 200 ")
        FUZZ_REQUIRE(asksForMetrics(sent));
    // A refusal carries no metrics (requests may follow on the connection: only the first
    // reply is the first request's).
    const std::string_view first = std::string_view(reply).substr(0, reply.find("HTTP/1.", 1));
    if (status != " 200 ")
        FUZZ_REQUIRE(first.find(Marker) == std::string_view::npos);
}

} // namespace

SENTREL_FUZZ_TARGET(metricsrequest, fuzzMetricsRequest)
