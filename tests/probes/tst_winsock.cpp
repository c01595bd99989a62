#include "probes/HostResolver.h"
#include "probes/WinSock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <memory>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <sched.h>
#include <sys/mount.h>

using namespace sentrel;

namespace {

const char *const HostsDirChildVariable = "SENTREL_TEST_HOSTS_DIR";
const char *const HostsNames[] = {
    "two.sentrel.test", "six.sentrel.test", "both.sentrel.test", "none.sentrel.test"};

// In a mount namespace of its own, with the hosts and nsswitch.conf files of `dir` in place of
// the system's, looks up each of HostsNames and prints "name: address address" in the order
// the service gave. The nsswitch.conf asks the hosts file alone, so no name reaches a name server.
int hostsOrderChild(const QString &dir)
{
    const auto bind = [&dir](const char *file, const char *onto) {
        return ::mount(QFile::encodeName(dir + QLatin1Char('/') + QLatin1String(file)).constData(), onto,
                   nullptr, MS_BIND, nullptr)
            == 0;
    };
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || !bind("hosts", "/etc/hosts") || !bind("nsswitch.conf", "/etc/nsswitch.conf"))
        return 77;
    for (const char *name : HostsNames) {
        const HostEntry entry = systemNameService(QString::fromLatin1(name));
        QStringList found;
        for (const uint32_t address : entry.addresses)
            found << FormatDottedAddress(address);
        for (const Ipv6Bytes &address : entry.addresses6)
            found << formatHostAddress(HostAddress::fromIpv6(address));
        std::printf("%s: %s\n", name, qPrintable(found.join(QLatin1Char(' '))));
    }
    return 0;
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
        // tests.
        const std::pair<int, const char *> table[] = {{0, "No error"},
            {10047, "Winsock Has Returned Error #10047"}, {10009, "No additional information provided."},
            {10061, "The attempt to connect was forcefully rejected."},
            {11002, "Host not found or SERVERFAIL (Non-Authoritative Answer)"}};
        for (const auto &[code, text] : table)
            QTest::addRow("%d", code) << code << QString::fromLatin1(text);
        // An errno without a code of its own stays outside the table, and never reads as no error.
        const int unlisted = wsaErrorFromErrno(EDOM);
        QTest::newRow("unlisted errno")
            << unlisted << QStringLiteral("Winsock Has Returned Error #%1").arg(unlisted);
    }
    void errorTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(GetWinsockErrorText(code), text);
    }

    void errorMapping_data()
    {
        QTest::addColumn<bool>("fromResolver");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("code");
        // The ends of the table, two errors that share a code, and the resolver's own.
        const std::tuple<const char *, bool, int, int> table[] = {
            {"ECONNREFUSED", false, ECONNREFUSED, 10061}, {"ETIMEDOUT", false, ETIMEDOUT, 10060},
            {"EHOSTUNREACH", false, EHOSTUNREACH, 10065}, {"EMFILE", false, EMFILE, 10024},
            {"ENFILE", false, ENFILE, 10024}, {"EPROTONOSUPPORT", false, EPROTONOSUPPORT, 10043},
            {"0", false, 0, 0}, {"HOST_NOT_FOUND", true, HOST_NOT_FOUND, 11001},
            {"NO_DATA", true, NO_DATA, 11004}};
        for (const auto &[name, fromResolver, from, code] : table)
            QTest::newRow(name) << fromResolver << from << code;
    }
    void errorMapping()
    {
        QFETCH(bool, fromResolver);
        QFETCH(int, from);
        QTEST(fromResolver ? wsaErrorFromHerrno(from, 0) : wsaErrorFromErrno(from), "code");
    }

    // Lookups that never return do not hold up the resolver's end.
    void hangingLookupsDoNotHoldTheEnd()
    {
        // A name service behind a dead name server: every lookup hangs until released.
        auto started = std::make_shared<QSemaphore>();
        auto release = std::make_shared<QSemaphore>();
        auto resolver = std::make_unique<HostResolver>([started, release](const QString &) {
            started->release();
            release->acquire();
            return HostEntry {{0x0100007f}, 0};
        });
        QObject context;
        int answers = 0;
        for (int i = 0; i < 20; ++i)
            resolver->ResolveHostAddress(
                QStringLiteral("dead%1.test").arg(i), &context, [&](const ResolveResult &) { ++answers; });
        QVERIFY(started->tryAcquire(8, 5000));
        QElapsedTimer clock;
        clock.start();
        resolver.reset();
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        // The hung lookups return only now; their answers go nowhere.
        release->release(20);
        QTest::qWait(100);
        QCOMPARE(answers, 0);
    }

    // Dotted and IPv6 literals need no lookup; a name is checked on its first IPv4 address
    // in the service's order, and on its first IPv6 address only when it has no IPv4 one.
    void resolveHostAddress_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address"); // empty: not found
        QTest::addColumn<uint>("scope");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("looksUp");
        const QString found = QStringLiteral("192.0.2.7");
        QTest::newRow("first of two in the service's order")
            << QStringLiteral("two") << QStringLiteral("192.0.2.9") << 0u << 0 << true;
        QTest::newRow("an answer without addresses")
            << QStringLiteral("empty") << QString() << 0u << 11004 << true;
        QTest::newRow("dotted needs no lookup")
            << QStringLiteral("10.0.0.1") << QStringLiteral("10.0.0.1") << 0u << 0 << false;
        QTest::newRow("inet_addr quirks kept")
            << QStringLiteral("10.1") << QStringLiteral("10.0.0.1") << 0u << 0 << false;
        QTest::newRow("unknown name") << QStringLiteral("nowhere") << QString() << 0u << 11001 << true;
        QTest::newRow("broadcast is no dotted address")
            << QStringLiteral("255.255.255.255") << found << 0u << 0 << true;
        QTest::newRow("embedded NUL is no dotted address")
            << QStringLiteral("10.0.0.1") + QChar(0) + QStringLiteral("x") << found << 0u << 0 << true;
        QTest::newRow("zone by number in brackets")
            << QStringLiteral("[fe80::1%3]") << QStringLiteral("fe80::1") << 3u << 0 << false;
        QTest::newRow("unknown zone")
            << QStringLiteral("fe80::1%nosuch0") << QString() << 0u << 10049 << false;
        QTest::newRow("IPv4-mapped is IPv4")
            << QStringLiteral("::ffff:127.0.0.9") << QStringLiteral("127.0.0.9") << 0u << 0 << false;
        QTest::newRow("half a bracket is a name") << QStringLiteral("[::1") << found << 0u << 0 << true;
        QTest::newRow("empty zone is a name") << QStringLiteral("fe80::1%") << found << 0u << 0 << true;
        QTest::newRow("only AAAA records")
            << QStringLiteral("six") << QStringLiteral("fd00::9") << 0u << 0 << true;
        QTest::newRow("IPv4 wins over a first IPv6")
            << QStringLiteral("both") << QStringLiteral("127.0.0.7") << 0u << 0 << true;
    }
    void resolveHostAddress()
    {
        QFETCH(QString, name);
        QStringList asked;
        HostResolver r([&](const QString &n) {
            asked << n;
            const auto v6 = [](const char *text) {
                Ipv6Bytes a {};
                ::inet_pton(AF_INET6, text, a.data());
                return a;
            };
            const QHash<QString, HostEntry> answers {
                {QStringLiteral("six"), {{}, 0, {v6("fd00::9"), v6("fd00::3")}}},
                {QStringLiteral("both"), {{inet_addr("127.0.0.7")}, 0, {v6("::1")}}},
                {QStringLiteral("empty"), {}}, {QStringLiteral("nowhere"), {{}, WsaError::HostNotFound}},
                {QStringLiteral("two"), {{inet_addr("192.0.2.9"), inet_addr("192.0.2.7")}, 0}}};
            return answers.value(n, HostEntry {{inet_addr("192.0.2.7")}, 0});
        });
        // A caller gone before its answer comes gets none.
        bool deadAnswered = false;
        auto *dead = new QObject;
        r.ResolveHostAddress(name, dead, [&](const ResolveResult &) { deadAnswered = true; });
        delete dead;
        QObject ctx;
        std::optional<ResolveResult> got;
        QThread *answerThread = nullptr;
        r.ResolveHostAddress(name, &ctx, [&](const ResolveResult &res) {
            got = res;
            answerThread = QThread::currentThread();
        });
        QVERIFY(!got); // never answered inside the call
        QTRY_VERIFY(got);
        QVERIFY(!deadAnswered);
        QTEST(got->found() ? formatHostAddress(got->host) : QString(), "address");
        QTEST(got->host.scopeId, "scope");
        QTEST(got->error, "error");
        // IPv4 callers see the IPv4 address only.
        QCOMPARE(got->address, got->found() && !got->host.isIpv6 ? got->host.ipv4 : NoAddress);
        QFETCH(bool, looksUp);
        QCOMPARE(asked, looksUp ? QStringList {name} : QStringList {});
        // The answer comes back to the caller's thread.
        QCOMPARE(answerThread, QThread::currentThread());
    }

    // Dead names neither queue the others nor get asked again; a name asked for
    // by many is looked up once until the answers are forgotten.
    void slowNamesHoldUpNoOthers()
    {
        auto release = std::make_shared<QSemaphore>();
        auto lookups = std::make_shared<QAtomicInt>();
        HostResolver resolver([release, lookups](const QString &n) {
            if (n.startsWith(QStringLiteral("dead")))
                release->acquire();
            lookups->ref();
            return HostEntry {{inet_addr("127.0.0.1")}, 0, {}};
        });
        QObject context;
        int deadAnswers = 0;
        int liveAnswers = 0;
        const auto ask = [&](const QString &name, int *count) {
            resolver.ResolveHostAddress(name, &context, [count](const ResolveResult &r) {
                if (r.found())
                    ++*count;
            });
        };
        for (int i = 0; i < 16; ++i) {
            ask(QStringLiteral("dead%1.test").arg(i), &deadAnswers);
            ask(QStringLiteral("dead%1.test").arg(i), &deadAnswers);
        }
        for (int i = 0; i < 300; ++i)
            ask(QStringLiteral("live%1.test").arg(i % 100), &liveAnswers);
        QTRY_COMPARE_WITH_TIMEOUT(liveAnswers, 300, 10000);
        QCOMPARE(lookups->loadRelaxed(), 100);
        ask(QStringLiteral("live7.test"), &liveAnswers);
        QTRY_COMPARE(liveAnswers, 301);
        QCOMPARE(lookups->loadRelaxed(), 100);
        resolver.forgetAnswers();
        ask(QStringLiteral("live7.test"), &liveAnswers);
        QTRY_COMPARE(liveAnswers, 302);
        QCOMPARE(lookups->loadRelaxed(), 101);
        release->release(16);
        QTRY_COMPARE(deadAnswers, 32);
        QCOMPARE(lookups->loadRelaxed(), 117);
    }

    // The system's name service keeps the hosts file's order (127.0.0.9 stays first, though a
    // sorting resolver would put the one nearer to 127.0.0.1 first) and gives a name's IPv6
    // addresses only when it has no IPv4 address.
    void systemServiceFallsBackToIpv6()
    {
        QTemporaryDir dir;
        const auto write = [&dir](const char *name, const QByteArray &text) {
            QFile file(dir.filePath(QLatin1String(name)));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(write("nsswitch.conf", "hosts: files\n")
            && write("hosts",
                "127.0.0.9 two.sentrel.test\n127.0.0.3 two.sentrel.test\nfd00:5::9 six.sentrel.test\n"
                "fd00:5::3 six.sentrel.test\nfd00:5::1 both.sentrel.test\n127.0.0.7 both.sentrel.test\n"));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(HostsDirChildVariable), dir.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(10000));
        if (child.exitCode() == 77)
            QSKIP("cannot put other hosts and nsswitch.conf files in place here (needs a mount namespace, "
                  "root)");
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput(),
            QByteArrayLiteral("two.sentrel.test: 127.0.0.9 127.0.0.3\nsix.sentrel.test: fd00:5::9 "
                              "fd00:5::3\nboth.sentrel.test: 127.0.0.7\n"
                              "none.sentrel.test: \n"));
    }
};

SENTREL_TEST_OWN_MAIN(argc, argv)
{
    if (qEnvironmentVariableIsSet(HostsDirChildVariable))
        return hostsOrderChild(qEnvironmentVariable(HostsDirChildVariable));
    QCoreApplication app(argc, argv);
    TstWinSock test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_winsock.moc"
