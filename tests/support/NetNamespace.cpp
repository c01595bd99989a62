#include "NetNamespace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace sentrel::test {

namespace {

QString prefix()
{
    return QStringLiteral("sentrel-%1-").arg(QCoreApplication::applicationPid());
}

} // namespace

bool runIp(const QString &command, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), command.split(QLatin1Char(' ')));
    const bool finished = process.waitForStarted(5000) && process.waitForFinished(10000);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (error) {
        *error = QStringLiteral("ip ") + command + QStringLiteral(": ")
            + (finished ? QString::fromLocal8Bit(process.readAll()).trimmed() : process.errorString());
    }
    return false;
}

QString namespaceUnavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    QString error;
    if (!runIp(QStringLiteral("netns list"), &error))
        return QStringLiteral("`ip netns` does not work here: ") + error;
    return QString();
}

NetNamespace::NetNamespace(const QString &tag)
    : m_name(prefix() + tag)
{
    m_valid = runIp(QStringLiteral("netns add ") + m_name, &m_error) && ip(QStringLiteral("link set lo up"));
}

NetNamespace::~NetNamespace()
{
    if (QFile::exists(QStringLiteral("/run/netns/") + m_name))
        runIp(QStringLiteral("netns delete ") + m_name);
}

bool NetNamespace::ip(const QString &command)
{
    return runIp(QStringLiteral("-n ") + m_name + QLatin1Char(' ') + command, &m_error);
}

bool NetNamespace::writeSysctl(const QString &key, const QByteArray &value)
{
    NamespaceEntry inside(*this);
    if (!inside.isValid()) {
        m_error = QStringLiteral("cannot enter ") + m_name;
        return false;
    }
    QFile file(QStringLiteral("/proc/sys/") + key);
    if (!file.open(QIODevice::WriteOnly) || file.write(value) != value.size()) {
        m_error = QStringLiteral("cannot write /proc/sys/%1: %2").arg(key, file.errorString());
        return false;
    }
    return true;
}

void NetNamespace::removeLeftovers()
{
    const QStringList names =
        QDir(QStringLiteral("/run/netns")).entryList({prefix() + QLatin1Char('*')}, QDir::Files);
    for (const QString &name : names)
        runIp(QStringLiteral("netns delete ") + name);
}

NamespaceEntry::NamespaceEntry(const NetNamespace &ns)
{
    // setns() moves only the calling thread, so the thread's own link is the way home.
    m_home = UniqueFd(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
    const UniqueFd target(::open(
        QFile::encodeName(QStringLiteral("/run/netns/") + ns.name()).constData(), O_RDONLY | O_CLOEXEC));
    m_entered = m_home && target && ::setns(target.get(), CLONE_NEWNET) == 0;
}

NamespaceEntry::~NamespaceEntry()
{
    if (m_entered && ::setns(m_home.get(), CLONE_NEWNET) != 0)
        qFatal("cannot return to the original network namespace");
}

} // namespace sentrel::test
