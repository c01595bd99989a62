#include "metrics/ClientSlots.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace sentrel {

ClientKey clientKey(const sockaddr *address)
{
    ClientKey key {};
    if (address->sa_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        key[10] = 0xff;
        key[11] = 0xff;
        std::memcpy(key.data() + 12, &v4.sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        std::memcpy(key.data(), &v6.sin6_addr, 16);
        // An IPv4 client of a dual-stack socket is one address, not a network.
        if (!IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            std::fill(key.begin() + 8, key.end(), uint8_t {0});
    }
    return key;
}

ClientSlots::ClientSlots(size_t perClient, size_t total)
    : m_perClient(std::max<size_t>(perClient, 1))
    , m_total(std::max<size_t>(total, 1))
{ }

std::vector<int> ClientSlots::admit(int connection, const ClientKey &client)
{
    release(connection);
    std::vector<int> dropped;
    m_byWait.push_back({connection, client});
    m_where[connection] = std::prev(m_byWait.end());
    size_t &count = ++m_count[client];
    // The new connection is last, so neither search ever reaches it while there are others.
    for (auto it = m_byWait.begin(); count > m_perClient && it->connection != connection;) {
        const auto next = std::next(it);
        if (it->client == client)
            drop(it, dropped);
        it = next;
    }
    while (m_byWait.size() > m_total)
        drop(m_byWait.begin(), dropped);
    return dropped;
}

void ClientSlots::answered(int connection)
{
    const auto found = m_where.find(connection);
    if (found != m_where.end())
        m_byWait.splice(m_byWait.end(), m_byWait, found->second);
}

void ClientSlots::release(int connection)
{
    const auto found = m_where.find(connection);
    if (found == m_where.end())
        return;
    std::vector<int> ignored;
    drop(found->second, ignored);
}

void ClientSlots::drop(Order::iterator it, std::vector<int> &dropped)
{
    dropped.push_back(it->connection);
    const auto count = m_count.find(it->client);
    if (--count->second == 0)
        m_count.erase(count);
    m_where.erase(it->connection);
    m_byWait.erase(it);
}

} // namespace sentrel
