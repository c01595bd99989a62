#pragma once

#include "probes/UniqueFd.h"

#include <QString>

namespace sentrel::test {

// Why this process cannot create network namespaces (not root, no working `ip`),
// or the empty text when it can.
QString namespaceUnavailableReason();

// A network namespace made for one test with `ip netns`, named after the process
// id so parallel runs never meet, with its loopback up. Removed on destruction.
class NetNamespace
{
public:
    explicit NetNamespace(const QString &tag);
    ~NetNamespace();
    NetNamespace(const NetNamespace &) = delete;
    NetNamespace &operator=(const NetNamespace &) = delete;

    // False when creation failed; error() says why.
    bool isValid() const { return m_valid; }
    QString error() const { return m_error; }
    QString name() const { return m_name; }

    // Runs `ip -n <name> command` (split as runIp splits it); false (and error() set) unless it
    // exits with 0.
    bool ip(const QString &command);

    // Writes `value` to /proc/sys/<key> as seen from inside the namespace.
    bool writeSysctl(const QString &key, const QByteArray &value);

    // Removes namespaces that an earlier, crashed run of this process id left behind.
    static void removeLeftovers();

private:
    QString m_name;
    QString m_error;
    bool m_valid = false;
};

// Runs `ip command` (its words split at single blanks); false (and `error` set) unless it exits with 0.
bool runIp(const QString &command, QString *error = nullptr);

// Moves the calling thread into a namespace until destroyed; sockets opened
// meanwhile belong to that namespace and stay there.
class NamespaceEntry
{
public:
    explicit NamespaceEntry(const NetNamespace &ns);
    ~NamespaceEntry();
    NamespaceEntry(const NamespaceEntry &) = delete;
    NamespaceEntry &operator=(const NamespaceEntry &) = delete;

    bool isValid() const { return m_entered; }

private:
    UniqueFd m_home;
    bool m_entered = false;
};

} // namespace sentrel::test
