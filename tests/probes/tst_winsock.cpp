#include "probes/HostResolver.h"
#include "probes/WinSock.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>

#include <atomic>

using namespace sentrel;

namespace {

uint32_t addr(const char *dotted)
{
    return inet_addr(dotted);
}

QList<QByteArray> fieldsOf(const QByteArray &line)
{
    const qsizetype comment = line.indexOf('#');
    return (comment < 0 ? line : line.first(comment)).simplified().split(' ');
}

// Whether the name service asks /etc/hosts before anything else and finds
// localhost there as 127.0.0.1.
bool hostsFileAnswersLocalhost()
{
    QFile nsswitch(QStringLiteral("/etc/nsswitch.conf"));
    QFile hosts(QStringLiteral("/etc/hosts"));
    if (!nsswitch.open(QIODevice::ReadOnly) || !hosts.open(QIODevice::ReadOnly))
        return false;
    bool filesFirst = false;
    for (const QByteArray &line : nsswitch.readAll().split('\n')) {
        const QList<QByteArray> f = fieldsOf(line);
        if (f.size() >= 2 && f[0] == "hosts:")
            filesFirst = f[1] == "files";
    }
    if (!filesFirst)
        return false;
    for (const QByteArray &line : hosts.readAll().split('\n')) {
        const QList<QByteArray> f = fieldsOf(line);
        if (f.size() >= 2 && f[0] == "127.0.0.1" && f.mid(1).contains("localhost"))
            return true;
    }
    return false;
}

} // namespace

class TstWinSock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void errorTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << QStringLiteral("No error");
        QTest::newRow("10047 has no entry") << 10047 << QStringLiteral("Winsock Has Returned Error #10047");
        QTest::newRow("10046") << 10046 << QStringLiteral("No additional information is provided.");
        QTest::newRow("10009") << 10009 << QStringLiteral("No additional information provided.");
        QTest::newRow("10064") << 10064 << QStringLiteral("No additional information is provided.");
        QTest::newRow("10065") << 10065 << QStringLiteral("No additional information is provided.");
        QTest::newRow("10060") << 10060
                               << QStringLiteral(
                                      "Attempt to connect timed out without establishing a connection.");
        QTest::newRow("10061") << 10061 << QStringLiteral("The attempt to connect was forcefully rejected.");
        QTest::newRow("10035") << 10035
                               << QStringLiteral(
                                      "The asynchronous operation cannot be scheduled at this time due to "
                                      "resource or other constraints.");
        QTest::newRow("11001") << 11001 << QStringLiteral("Host not found (Authoritative Answer)");
        QTest::newRow("11002") << 11002
                               << QStringLiteral("Host not found or SERVERFAIL (Non-Authoritative Answer)");
        QTest::newRow("11004") << 11004 << QStringLiteral("No data record for the requested host.");
        QTest::newRow("negative") << -5 << QStringLiteral("Winsock Has Returned Error #-5");
    }
    void errorTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(GetWinsockErrorText(code), text);
    }

    void errnoMapping_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("code");
        QTest::newRow("ECONNREFUSED") << ECONNREFUSED << 10061;
        QTest::newRow("ETIMEDOUT") << ETIMEDOUT << 10060;
        QTest::newRow("EHOSTDOWN") << EHOSTDOWN << 10064;
        QTest::newRow("EHOSTUNREACH") << EHOSTUNREACH << 10065;
        QTest::newRow("ENETUNREACH") << ENETUNREACH << 10051;
        QTest::newRow("ENETDOWN") << ENETDOWN << 10050;
        QTest::newRow("ENETRESET") << ENETRESET << 10052;
        QTest::newRow("ECONNABORTED") << ECONNABORTED << 10053;
        QTest::newRow("ECONNRESET") << ECONNRESET << 10054;
        QTest::newRow("ENOBUFS") << ENOBUFS << 10055;
        QTest::newRow("EISCONN") << EISCONN << 10056;
        QTest::newRow("ENOTCONN") << ENOTCONN << 10057;
        QTest::newRow("EADDRINUSE") << EADDRINUSE << 10048;
        QTest::newRow("EADDRNOTAVAIL") << EADDRNOTAVAIL << 10049;
        QTest::newRow("EMFILE") << EMFILE << 10024;
        QTest::newRow("ENFILE") << ENFILE << 10024;
        QTest::newRow("EINVAL") << EINVAL << 10022;
        QTest::newRow("EACCES") << EACCES << 10013;
        QTest::newRow("EAFNOSUPPORT") << EAFNOSUPPORT << 10047;
        QTest::newRow("EPROTONOSUPPORT") << EPROTONOSUPPORT << 10043;
        QTest::newRow("0") << 0 << 0;
    }
    void errnoMapping()
    {
        QFETCH(int, err);
        QFETCH(int, code);
        QCOMPARE(wsaErrorFromErrno(err), code);
    }

    void unlistedErrnoStaysOutsideTheTable()
    {
        const int code = wsaErrorFromErrno(EDOM);
        QVERIFY(code != 0);
        QVERIFY(GetWinsockErrorText(code).startsWith(QStringLiteral("Winsock Has Returned Error #")));
    }

    void nameServiceMapping_data()
    {
        QTest::addColumn<int>("gai");
        QTest::addColumn<int>("code");
        QTest::newRow("EAI_NONAME") << EAI_NONAME << 11001;
        QTest::newRow("EAI_AGAIN") << EAI_AGAIN << 11002;
        QTest::newRow("EAI_FAIL") << EAI_FAIL << 11003;
        QTest::newRow("EAI_NODATA") << EAI_NODATA << 11004;
    }
    void nameServiceMapping()
    {
        QFETCH(int, gai);
        QFETCH(int, code);
        QCOMPARE(wsaErrorFromGai(gai, 0), code);
    }

    void dottedParseKeepsInetAddrQuirks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringLiteral("10.0.0.1") << QStringLiteral("10.0.0.1");
        QTest::newRow("two parts") << QStringLiteral("10.1") << QStringLiteral("10.0.0.1");
        QTest::newRow("hex") << QStringLiteral("0x7f.1") << QStringLiteral("127.0.0.1");
        QTest::newRow("name") << QStringLiteral("mail.example") << QStringLiteral("255.255.255.255");
        QTest::newRow("broadcast is no address")
            << QStringLiteral("255.255.255.255") << QStringLiteral("255.255.255.255");
        QTest::newRow("embedded NUL") << QStringLiteral("10.0.0.1") + QChar(0) + QStringLiteral("x")
                                      << QStringLiteral("255.255.255.255");
    }
    void dottedParseKeepsInetAddrQuirks()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(FormatDottedAddress(ParseDottedAddress(text)), expected);
    }

    void startNeedsNothing() { QVERIFY(StartWinsock()); }

    void dottedAddressNeedsNoLookup()
    {
        std::atomic<int> lookups {0};
        HostResolver r([&](const QString &) {
            ++lookups;
            return ResolveResult {};
        });
        QObject ctx;
        ResolveResult got {0, -1};
        bool called = false;
        r.ResolveHostAddress(QStringLiteral("10.0.0.1"), &ctx, [&](const ResolveResult &res) {
            got = res;
            called = true;
        });
        QVERIFY(!called); // never answered inside the call
        QTRY_VERIFY(called);
        QCOMPARE(got.address, addr("10.0.0.1"));
        QCOMPARE(got.error, 0);
        QCOMPARE(lookups.load(), 0);
    }

    void namesGoToTheNameServiceWhole()
    {
        QString asked;
        QThread *lookupThread = nullptr;
        QThread *answerThread = nullptr;
        const QString longName = QString(100, QLatin1Char('a')) + QStringLiteral(".example");
        HostResolver r([&](const QString &name) {
            asked = name;
            lookupThread = QThread::currentThread();
            return ResolveResult {addr("192.0.2.7"), 0};
        });
        QObject ctx;
        ResolveResult got;
        bool called = false;
        r.ResolveHostAddress(longName, &ctx, [&](const ResolveResult &res) {
            got = res;
            answerThread = QThread::currentThread();
            called = true;
        });
        QVERIFY(!called);
        QTRY_VERIFY(called);
        QCOMPARE(asked, longName);
        QCOMPARE(got.address, addr("192.0.2.7"));
        // The blocking lookup runs elsewhere; the answer comes back to the caller's thread.
        QVERIFY(lookupThread && lookupThread != QThread::currentThread());
        QCOMPARE(answerThread, QThread::currentThread());
    }

    void unknownNameGivesAllOnesAndCode()
    {
        HostResolver r([](const QString &) { return ResolveResult {NoAddress, WsaError::HostNotFound}; });
        QObject ctx;
        ResolveResult got;
        bool called = false;
        r.ResolveHostAddress(QStringLiteral("nowhere"), &ctx, [&](const ResolveResult &res) {
            got = res;
            called = true;
        });
        QTRY_VERIFY(called);
        QCOMPARE(got.address, NoAddress);
        QCOMPARE(got.error, 11001);
    }

    void deadContextGetsNoAnswer()
    {
        HostResolver r([](const QString &) { return ResolveResult {addr("192.0.2.1"), 0}; });
        bool called = false;
        auto *ctx = new QObject;
        r.ResolveHostAddress(QStringLiteral("host"), ctx, [&](const ResolveResult &) { called = true; });
        r.ResolveHostAddress(QStringLiteral("10.0.0.1"), ctx, [&](const ResolveResult &) { called = true; });
        delete ctx;
        // A live request behind them proves the queue has been drained.
        QObject live;
        bool liveCalled = false;
        r.ResolveHostAddress(
            QStringLiteral("host"), &live, [&](const ResolveResult &) { liveCalled = true; });
        QTRY_VERIFY(liveCalled);
        QTest::qWait(50);
        QVERIFY(!called);
    }

    void systemLookupOfLocalhost()
    {
        // Only a hosts file consulted first keeps this lookup off the network.
        if (!hostsFileAnswersLocalhost())
            QSKIP("the hosts file does not map localhost to 127.0.0.1 ahead of DNS; the lookup could "
                  "leave the machine");
        const ResolveResult r = vbGetHostByName(QStringLiteral("localhost"));
        QCOMPARE(r.error, 0);
        QCOMPARE(FormatDottedAddress(r.address), QStringLiteral("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TstWinSock)
#include "tst_winsock.moc"
