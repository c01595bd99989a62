#include "LoopbackPeers.h"
#include "NetNamespace.h"
#include "TestSupport.h"
#include "probes/PortProbe.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTestEventLoop>
#include <QThread>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace sentrel;
using namespace sentrel::test;

namespace {

// Everything one probe reported.
struct ProbeRun
{
    bool finishedInsideCall = false;
    bool done = false;
    ProbeStatus status = -99;
    QString text;
    QStringList captions;
    qint64 elapsedMs = 0;
};

struct ProbeArgs
{
    ProbeArgs(uint32_t address, uint16_t port, int16_t timeOut, bool dosend)
        : address(address)
        , port(port)
        , timeOut(timeOut)
        , dosend(dosend)
    { }

    uint32_t address;
    uint16_t port;
    int16_t timeOut;
    bool dosend;
    AbortFlag abort;
    std::function<void(const QString &)> onCaption;
    std::chrono::milliseconds connectTimeout {0};
};

// Runs one probe to its end; the probe is destroyed inside its own callback,
// as the check cycle does.
ProbeRun runProbe(const ProbeArgs &args, int waitMs = 20000)
{
    ProbeRun run;
    QElapsedTimer clock;
    clock.start();
    QTestEventLoop loop;
    std::unique_ptr<PortProbe> probe;
    bool inCall = true;
    probe = checkport(
        args.address, int16_t(args.port), args.timeOut, args.dosend, args.abort,
        [&](const QString &caption) {
            run.captions << caption;
            if (args.onCaption)
                args.onCaption(caption);
        },
        [&](ProbeStatus status, const QString &text) {
            run.finishedInsideCall = inCall;
            run.done = true;
            run.status = status;
            run.text = text;
            run.elapsedMs = clock.elapsed();
            probe.reset();
            loop.exitLoop();
        });
    inCall = false;
    if (args.connectTimeout.count() > 0)
        probe->setConnectTimeout(args.connectTimeout);
    // A real event loop: qWaitFor() sleeps between its turns, which would
    // stretch every step of the probe.
    if (!run.done)
        loop.enterLoopMSecs(waitMs);
    return run;
}

QByteArray bytes(const char *data, int size)
{
    return QByteArray(data, size);
}

QStringList words(const char *command)
{
    return QString::fromLatin1(command).split(QLatin1Char(' '));
}

// Long enough for a reset sent on loopback to have reached the probe's socket.
constexpr int ResetSettleMs = 100;

} // namespace

class TstPortProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanupTestCase() { NetNamespace::removeLeftovers(); }

    void quitText_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("text");
        const QByteArray other = QByteArrayLiteral("\x04\r\nexit\r\nquit\r\n\r\n");
        QTest::newRow("80") << 80 << QByteArrayLiteral("GET\n\n\n\x04\n");
        QTest::newRow("23") << 23 << QByteArrayLiteral("\x04");
        QTest::newRow("13") << 13 << QByteArray();
        QTest::newRow("25") << 25 << QByteArrayLiteral("QUIT\r\n");
        QTest::newRow("1352") << 1352 << QByteArrayLiteral("QUIT\n");
        QTest::newRow("110") << 110 << other;
        QTest::newRow("0") << 0 << other;
        QTest::newRow("40000 as 16-bit") << int(int16_t(40000)) << other;
    }

    void quitText()
    {
        QFETCH(int, port);
        QFETCH(QByteArray, text);
        QCOMPARE(QuitText(int16_t(port)), text);
    }

    void todos_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("bare LF and trailing CR")
            << QByteArrayLiteral("abc\ndef\r") << QByteArrayLiteral("abc\r\ndef\r\n");
        QTest::newRow("leading blanks") << QByteArrayLiteral("  x") << QByteArrayLiteral("x");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("CR LF untouched")
            << QByteArrayLiteral("a\r\nb\r\n") << QByteArrayLiteral("a\r\nb\r\n");
        QTest::newRow("EOT and NUL dropped") << bytes("a\x04"
                                                      "b\0c",
            5) << QByteArrayLiteral("abc");
        QTest::newRow("LF after a dropped EOT still gets its CR")
            << QByteArrayLiteral("a\r\x04\n") << QByteArrayLiteral("a\r\r\n");
        QTest::newRow("trailing CR then EOT gets no LF")
            << QByteArrayLiteral("a\r\x04") << QByteArrayLiteral("a\r");
        QTest::newRow("only tabs are kept at the start")
            << QByteArrayLiteral(" \tx") << QByteArrayLiteral("\tx");
        QTest::newRow("leading CR LF stays") << QByteArrayLiteral("\r\n*** Timeout on read ***")
                                             << QByteArrayLiteral("\r\n*** Timeout on read ***");
        QTest::newRow("blanks before a bare LF") << QByteArrayLiteral("  \nx") << QByteArrayLiteral("\r\nx");
        QTest::newRow("lone CRs inside stay") << QByteArrayLiteral("a\rb") << QByteArrayLiteral("a\rb");
        QTest::newRow("Latin-1 kept") << QByteArrayLiteral("caf\xe9\n") << QByteArrayLiteral("caf\xe9\r\n");
    }

    void todos()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QString text = latin1(in);
        sentrel::todos(text);
        QCOMPARE(text, latin1(out));
    }

    void connectFailure_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("refused") << 10061 << 25 << -1 << QStringLiteral("Connection refused on port  25");
        QTest::newRow("timed out") << 10060 << 80 << 3 << QStringLiteral("Host not responding on port  80");
        QTest::newRow("host down") << 10064 << 80 << 3 << QStringLiteral("Host not responding on port  80");
        QTest::newRow("host unreachable counts as down")
            << 10065 << 23 << 3 << QStringLiteral("Host not responding on port  23");
        QTest::newRow("network unreachable")
            << 10051 << 23 << 0
            << QStringLiteral("The network cannot be reached from this host at this time.");
        QTest::newRow("unlisted") << 20099 << 23 << 0 << QStringLiteral("Winsock Has Returned Error #20099");
        QTest::newRow("port above 32767 shown unsigned")
            << 10061 << int(int16_t(40000)) << -1 << QStringLiteral("Connection refused on port  40000");
    }

    void connectFailure()
    {
        QFETCH(int, code);
        QFETCH(int, port);
        QFETCH(int, status);
        QFETCH(QString, text);
        const ProbeOutcome outcome = sentrel::connectFailure(code, int16_t(port));
        QCOMPARE(int(outcome.status), status);
        QCOMPARE(outcome.text, text);
    }

    void refusedPort()
    {
        RefusedPort refused;
        QVERIFY(refused.isValid());
        const ProbeRun run = runProbe(ProbeArgs(refused.address(), refused.port(), 5, true));
        QVERIFY(run.done);
        QVERIFY(!run.finishedInsideCall);
        QCOMPARE(int(run.status), -1);
        QCOMPARE(run.text, QStringLiteral("Connection refused on port  ") + QString::number(refused.port()));
        QCOMPARE(run.captions, QStringList {QStringLiteral("Connecting...")});
    }

    void socketCreationFailure()
    {
        // With the descriptor limit at the lowest free number, socket() fails with EMFILE.
        rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = ::dup(0);
        QVERIFY(lowestFree >= 0);
        ::close(lowestFree);
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(lowestFree);
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            QSKIP("cannot lower the descriptor limit");
        ProbeArgs args(loopbackAddress(), 9, 5, true);
        const ProbeRun run = runProbe(args);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 0);
        QCOMPARE(
            run.text, QStringLiteral("Unable to create socket: No more file descriptors are available."));
        QVERIFY(run.captions.isEmpty());
    }

    // Connect failures that only a routed network produces, made in a namespace of
    // the test's own: each errno must reach its Windows Sockets code and result.
    void connectErrorsOfTheNetwork_data()
    {
        QTest::addColumn<QByteArray>("destination");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const QString notResponding = QStringLiteral("Host not responding on port  7");
        QTest::newRow("unreachable route") << QByteArrayLiteral("10.201.0.5") << 3 << notResponding;
        QTest::newRow("neighbour never answers ARP") << QByteArrayLiteral("10.203.0.9") << 3 << notResponding;
        QTest::newRow("no route to the network")
            << QByteArrayLiteral("10.205.0.5") << 0
            << QStringLiteral("The network cannot be reached from this host at this time.");
        QTest::newRow("prohibited route")
            << QByteArrayLiteral("10.204.0.5") << 0
            << QStringLiteral(
                   "The requested address is a broadcast address, but the appropriate flag was not set.");
    }

    void connectErrorsOfTheNetwork()
    {
        QFETCH(QByteArray, destination);
        QFETCH(int, status);
        QFETCH(QString, text);
        if (const QString why = namespaceUnavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("this case needs its own network namespace, but ") + why));
        static int tag = 0;
        NetNamespace ns(QStringLiteral("tcp%1").arg(++tag));
        // A veth pair whose far end owns no address: ARP for a neighbour goes unanswered.
        const bool ready = ns.isValid() && ns.ip(words("route add unreachable 10.201.0.0/24"))
            && ns.ip(words("route add prohibit 10.204.0.0/24"))
            && ns.ip(words("link add va type veth peer name vb"))
            && ns.ip(words("addr add 10.203.0.1/24 dev va")) && ns.ip(words("link set va up"))
            && ns.ip(words("link set vb up"))
            && ns.writeSysctl(QStringLiteral("net/ipv4/neigh/va/mcast_solicit"), "1")
            && ns.writeSysctl(QStringLiteral("net/ipv4/neigh/va/retrans_time_ms"), "100");
        QVERIFY2(ready, qPrintable(ns.error()));
        NamespaceEntry inside(ns);
        QVERIFY(inside.isValid());
        const ProbeRun run = runProbe(ProbeArgs(inet_addr(destination.constData()), 7, 5, true));
        QVERIFY(run.done);
        QCOMPARE(run.text, text);
        QCOMPARE(int(run.status), status);
        QCOMPARE(run.captions, QStringList {QStringLiteral("Connecting...")});
    }

    void resetBeforeSendingFailsTheSend()
    {
        ResettingPeer peer;
        QVERIFY(peer.isListening());
        bool reset = false;
        ProbeArgs args(peer.address(), peer.port(), 5, true);
        args.onCaption = [&](const QString &caption) {
            if (caption == QStringLiteral("Sending...")) {
                reset = peer.resetNext();
                QThread::msleep(ResetSettleMs);
            }
        };
        const ProbeRun run = runProbe(args);
        QVERIFY(reset);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 0);
        QCOMPARE(run.text, QStringLiteral("Send: The connection was reset by the remote side."));
        // A failed send ends the probe at once, without the closing caption.
        QCOMPARE(run.captions, (QStringList {QStringLiteral("Connecting..."), QStringLiteral("Sending...")}));
    }

    void resetWhileReadingIsAReadError()
    {
        ResettingPeer peer;
        QVERIFY(peer.isListening());
        bool reset = false;
        ProbeArgs args(peer.address(), peer.port(), 5, false);
        args.onCaption = [&](const QString &caption) {
            if (caption == QStringLiteral("Reading:  5")) {
                reset = peer.resetNext();
                QThread::msleep(ResetSettleMs);
            }
        };
        const ProbeRun run = runProbe(args);
        QVERIFY(reset);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        QCOMPARE(run.text, QStringLiteral("\r\n*** Error on read ***"));
        QCOMPARE(run.captions.constLast(), QString());
        QVERIFY(!run.captions.contains(QStringLiteral("Reading:  4")));
    }

    void unansweredConnectTimesOut()
    {
        UnansweredPort unanswered;
        if (!unanswered.isValid())
            QSKIP(qPrintable(
                QStringLiteral("cannot make a port that drops SYNs: ") + unanswered.errorString()));
        ProbeArgs args(unanswered.address(), unanswered.port(), 5, true);
        args.connectTimeout = std::chrono::milliseconds(400);
        const ProbeRun run = runProbe(args);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 3);
        QCOMPARE(
            run.text, QStringLiteral("Host not responding on port  ") + QString::number(unanswered.port()));
        QVERIFY2(run.elapsedMs >= 350, qPrintable(QString::number(run.elapsedMs)));
    }

    void silentPeerTimesOutWithCaptions_data()
    {
        QTest::addColumn<bool>("dosend");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("agent query") << false
                                     << QStringList {QStringLiteral("Connecting..."),
                                            QStringLiteral("Reading:  2"), QStringLiteral("Reading:  1"),
                                            QString()};
        QTest::newRow("port check") << true
                                    << QStringList {QStringLiteral("Connecting..."),
                                           QStringLiteral("Sending..."), QStringLiteral("Reading:  2"),
                                           QStringLiteral("Reading:  1"), QString()};
    }

    void silentPeerTimesOutWithCaptions()
    {
        QFETCH(bool, dosend);
        QFETCH(QStringList, captions);
        LoopbackServer silent({QByteArray(), PeerScript::Then::Silent});
        QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(silent.address(), silent.port(), 2, dosend));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        QCOMPARE(run.text, QStringLiteral("\r\n*** Timeout on read ***"));
        QCOMPARE(run.captions, captions);
        // Two one-second waits without data, not fewer.
        QVERIFY2(run.elapsedMs >= 1800, qPrintable(QString::number(run.elapsedMs)));
        QCOMPARE(silent.acceptedCount(), 1);
    }

    void replyComesBackNormalised_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("dosend");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("banner and close") << QByteArrayLiteral("220 mail ready\r\n221 bye\r\n") << true
                                          << QByteArrayLiteral("220 mail ready\r\n221 bye\r\n");
        QTest::newRow("closes at once") << QByteArray() << true << QByteArray();
        QTest::newRow("bare LF, EOT and NUL")
            << bytes("line1\nli\x04ne2\0\nend", 17) << false << QByteArrayLiteral("line1\r\nline2\r\nend");
        QTest::newRow("agent WARNING")
            << QByteArrayLiteral("WARNING\r\nsummary\r\ndetail1\r\ndetail2\r\n") << false
            << QByteArrayLiteral("WARNING\r\nsummary\r\ndetail1\r\ndetail2\r\n");
        QTest::newRow("agent OK with LF")
            << QByteArrayLiteral("OK\nall fine\n") << false << QByteArrayLiteral("OK\r\nall fine\r\n");
        QTest::newRow("agent 2 with blank lines and CR") << QByteArrayLiteral(
            "2\r\n\r\nsummary\r\rdetail\r") << false << QByteArrayLiteral("2\r\n\r\nsummary\r\rdetail\r\n");
        QTest::newRow("leading blanks")
            << QByteArrayLiteral("   OK\r\n") << false << QByteArrayLiteral("OK\r\n");
        QByteArray high;
        for (int c = 0x80; c <= 0xff; ++c)
            high += char(c);
        QTest::newRow("every high Latin-1 byte") << high << false << high;
        QByteArray many;
        for (int i = 0; i < 400; ++i)
            many += "line " + QByteArray::number(i) + "\r\n";
        QTest::newRow("many chunks") << many << true << many;
        const QByteArray atCap(MaxReplyBytes, 'a');
        QTest::newRow("exactly the cap") << atCap << false << atCap;
    }

    void replyComesBackNormalised()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, dosend);
        QFETCH(QByteArray, reply);
        LoopbackServer server({greeting, PeerScript::Then::Close});
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(server.address(), server.port(), 5, dosend));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 1);
        QCOMPARE(run.text.size(), reply.size());
        QCOMPARE(run.text, latin1(reply));
        QCOMPARE(run.captions.constLast(), QString());
    }

    void overlongReplyIsCut()
    {
        LoopbackServer server({QByteArray(MaxReplyBytes + 1, 'b'), PeerScript::Then::Close});
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(server.address(), server.port(), 5, false));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        QCOMPARE(run.text, QString(MaxReplyBytes, u'b') + QStringLiteral("\r\n*** Reply too long ***"));
    }

    void endlessStreamerIsCut()
    {
        PeerScript script {QByteArray(), PeerScript::Then::Stream};
        script.chunk = QByteArrayLiteral("0123456789abcdefghijklmnopqrstuvwxyz\r\n");
        LoopbackServer streamer(script);
        QVERIFY2(streamer.isListening(), qPrintable(streamer.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(streamer.address(), streamer.port(), 5, true));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        const QString tail = QStringLiteral("\r\n*** Reply too long ***");
        QVERIFY(run.text.endsWith(tail));
        QCOMPARE(run.text.size(), MaxReplyBytes + tail.size());
        QVERIFY(run.text.startsWith(QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz\r\n0123")));
        // The probe closed its end, so the streamer's connection ends too.
        QTRY_COMPARE(streamer.openCount(), 0);
    }

    void tricklingPeerEndsByIdleCount()
    {
        PeerScript script {QByteArray(), PeerScript::Then::Trickle};
        script.intervalMs = 1500;
        LoopbackServer trickle(script);
        QVERIFY2(trickle.isListening(), qPrintable(trickle.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(trickle.address(), trickle.port(), 2, false));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        QVERIFY2(run.text.startsWith(QStringLiteral(".")), qPrintable(run.text));
        QVERIFY(run.text.endsWith(QStringLiteral(".\r\n*** Timeout on read ***")));
        QVERIFY2(run.elapsedMs < readTimeLimitMs(2), qPrintable(QString::number(run.elapsedMs)));
    }

    void busyPeerEndsByReadTimeLimit()
    {
        PeerScript script {QByteArrayLiteral("start"), PeerScript::Then::Trickle};
        script.intervalMs = 150;
        LoopbackServer trickle(script);
        QVERIFY2(trickle.isListening(), qPrintable(trickle.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(trickle.address(), trickle.port(), 1, false));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        const QString tail = QStringLiteral("\r\n*** Read time limit exceeded ***");
        QVERIFY2(run.text.endsWith(tail), qPrintable(run.text));
        QVERIFY2(run.text.startsWith(QStringLiteral("start..")), qPrintable(run.text));
        QVERIFY2(run.elapsedMs >= readTimeLimitMs(1), qPrintable(QString::number(run.elapsedMs)));
        QTRY_COMPARE(trickle.openCount(), 0);
    }

    void abortEndsRead_data()
    {
        QTest::addColumn<QString>("abortAt");
        QTest::addColumn<QString>("text");
        QTest::newRow("after the first idle second")
            << QStringLiteral("Reading:  9") << QStringLiteral("hello\r\n");
        QTest::newRow("before the first wait") << QStringLiteral("Reading:  10") << QString();
    }

    void abortEndsRead()
    {
        QFETCH(QString, abortAt);
        QFETCH(QString, text);
        LoopbackServer server({QByteArrayLiteral("hello\n"), PeerScript::Then::Silent});
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        bool abort = false;
        ProbeArgs args(server.address(), server.port(), 10, false);
        args.abort = [&] { return abort; };
        args.onCaption = [&](const QString &caption) {
            if (caption == abortAt)
                abort = true;
        };
        const ProbeRun run = runProbe(args);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 1);
        QCOMPARE(run.text, text);
        QCOMPARE(run.captions.constLast(), QString());
        QTRY_COMPARE(server.openCount(), 0);
    }

    void closingTextReachesPeer_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("oobInline");
        QTest::newRow("ephemeral port, urgent byte apart") << 0 << false;
        QTest::newRow("ephemeral port, urgent byte inline") << 0 << true;
        QTest::newRow("25") << 25 << false;
        QTest::newRow("80") << 80 << false;
        QTest::newRow("23 (urgent byte only)") << 23 << false;
        QTest::newRow("1352") << 1352 << false;
    }

    void closingTextReachesPeer()
    {
        QFETCH(int, port);
        QFETCH(bool, oobInline);
        PeerScript script {QByteArrayLiteral("bye\r\n"), PeerScript::Then::Close};
        script.oobInline = oobInline;
        const QByteArray host = port ? privateLoopbackAddress(port) : QByteArrayLiteral("127.0.0.1");
        LoopbackServer recorder(script, host, uint16_t(port));
        if (!recorder.isListening())
            QSKIP(qPrintable(QStringLiteral("cannot listen on a fixed port: ") + recorder.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(recorder.address(), recorder.port(), 5, true));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 1);
        QCOMPARE(run.text, QStringLiteral("bye\r\n"));
        QTRY_COMPARE(recorder.openCount(), 0);
        const QByteArray text = QuitText(int16_t(recorder.port()));
        if (oobInline) {
            QCOMPARE(recorder.received(), text);
            QVERIFY(recorder.urgent().isEmpty());
        } else {
            // Sent with MSG_OOB: the last byte of the text is the urgent byte.
            QCOMPARE(recorder.received(), text.chopped(1));
            QCOMPARE(recorder.urgent(), text.right(1));
        }
    }

    void daytimePortSendsNothing()
    {
        LoopbackServer daytime({QByteArrayLiteral("Sat Dec  6 12:00:00 2025\r\n"), PeerScript::Then::Close},
            privateLoopbackAddress(13), 13);
        if (!daytime.isListening())
            QSKIP(qPrintable(QStringLiteral("cannot listen on port 13: ") + daytime.errorString()));
        const ProbeRun run = runProbe(ProbeArgs(daytime.address(), 13, 5, true));
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 1);
        QCOMPARE(run.text, QStringLiteral("Sat Dec  6 12:00:00 2025\r\n"));
        QVERIFY(!run.captions.contains(QStringLiteral("Sending...")));
        QTRY_COMPARE(daytime.openCount(), 0);
        QVERIFY(daytime.received().isEmpty());
        QVERIFY(daytime.urgent().isEmpty());
    }

    void destroyingCancelsSilently_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("before it starts") << QStringLiteral("start");
        QTest::newRow("while connecting") << QStringLiteral("connect");
        QTest::newRow("while reading") << QStringLiteral("read");
    }

    void destroyingCancelsSilently()
    {
        QFETCH(QString, stage);
        LoopbackServer silent({QByteArrayLiteral("hi"), PeerScript::Then::Silent});
        QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
        UnansweredPort unanswered;
        if (stage == QStringLiteral("connect") && !unanswered.isValid())
            QSKIP(qPrintable(
                QStringLiteral("cannot make a port that drops SYNs: ") + unanswered.errorString()));
        const bool toSilent = stage != QStringLiteral("connect");
        int callbacks = 0;
        QStringList captions;
        auto probe = checkport(
            toSilent ? silent.address() : unanswered.address(),
            int16_t(toSilent ? silent.port() : unanswered.port()), 5, true, {},
            [&](const QString &caption) { captions << caption; },
            [&](ProbeStatus, const QString &) { ++callbacks; });
        if (stage == QStringLiteral("connect"))
            QTRY_VERIFY(captions.contains(QStringLiteral("Connecting...")));
        if (stage == QStringLiteral("read")) {
            QTRY_VERIFY(captions.contains(QStringLiteral("Reading:  5")));
            QTRY_COMPARE(silent.openCount(), 1);
        }
        const qsizetype captionsBefore = captions.size();
        probe.reset();
        // The socket is closed: the server sees the end of the connection.
        if (stage == QStringLiteral("read"))
            QTRY_COMPARE(silent.openCount(), 0);
        QTest::qWait(300);
        QCOMPARE(callbacks, 0);
        QCOMPARE(captions.size(), captionsBefore);
    }

    void manyProbesInFlight()
    {
        LoopbackServer server({QByteArrayLiteral("OK\nfine\n"), PeerScript::Then::Close});
        QVERIFY2(server.isListening(), qPrintable(server.errorString()));
        constexpr int Count = 50;
        std::vector<std::unique_ptr<PortProbe>> probes(Count);
        int ok = 0;
        int done = 0;
        for (int i = 0; i < Count; ++i) {
            probes[i] = checkport(server.address(), int16_t(server.port()), 5, i % 2 == 0, {}, {},
                [&, i](ProbeStatus status, const QString &text) {
                    ++done;
                    if (status == 1 && text == QStringLiteral("OK\r\nfine\r\n"))
                        ++ok;
                    probes[i].reset();
                });
        }
        QTRY_COMPARE(done, Count);
        QCOMPARE(ok, Count);
        QCOMPARE(server.acceptedCount(), Count);
        QTRY_COMPARE(server.openCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TstPortProbe)
#include "tst_portprobe.moc"
