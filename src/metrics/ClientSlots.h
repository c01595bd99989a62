#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <unordered_map>
#include <vector>

struct sockaddr;

namespace sentrel {

// Who a client is for the connection limits: its IPv4 address (as an IPv4-mapped IPv6
// address), or the /64 network of its IPv6 address, since one IPv6 host commonly has a
// whole /64 to pick addresses from.
using ClientKey = std::array<uint8_t, 16>;
// All zeros for an address that is neither IPv4 nor IPv6.
ClientKey clientKey(const sockaddr *address);

// The connections a server holds, by how long each has gone without an answer. A new
// connection always gets in: to make room, the connection waiting longest for an answer
// gives way, first among those of the same client when that client holds more than its
// share, then among all. So a client that connects and says nothing, or trickles its
// request, can delay nobody: its connections are the first to go. Connections are named
// by their descriptors, which stay unique while they are held.
class ClientSlots
{
public:
    ClientSlots(size_t perClient, size_t total);

    // Holds connection for client; returns the connections to drop to make room for it,
    // which are no longer held. Never the new connection itself.
    std::vector<int> admit(int connection, const ClientKey &client);
    // The connection's request has been answered: it waits for an answer from now on.
    void answered(int connection);
    // The connection has gone. One not held is ignored.
    void release(int connection);

    size_t size() const { return m_byWait.size(); }

private:
    struct Held
    {
        int connection;
        ClientKey client;
    };
    using Order = std::list<Held>;

    void drop(Order::iterator it, std::vector<int> &dropped);

    const size_t m_perClient;
    const size_t m_total;
    // Longest waiting first.
    Order m_byWait;
    std::unordered_map<int, Order::iterator> m_where;
    std::map<ClientKey, size_t> m_count;
};

} // namespace sentrel
