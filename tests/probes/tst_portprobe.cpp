#include "LoopbackPeers.h"
#include "TestSupport.h"
#include "probes/PortProbe.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTestEventLoop>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

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

using CaptionHook = std::function<void(const QString &)>;

// Runs one probe to its end; the probe is destroyed inside its own callback, as
// the check cycle does. `onCaption` sees every caption as the probe shows it.
ProbeRun runProbe(uint32_t address, uint16_t port, int16_t timeOut, bool dosend,
    const CaptionHook &onCaption = {}, AbortFlag abort = {}, int connectTimeoutMs = 0)
{
    ProbeRun run;
    QElapsedTimer clock;
    clock.start();
    QTestEventLoop loop;
    std::unique_ptr<PortProbe> probe;
    bool inCall = true;
    probe = checkport(
        address, int16_t(port), timeOut, dosend, std::move(abort),
        [&](const QString &caption) {
            run.captions << caption;
            if (onCaption)
                onCaption(caption);
        },
        [&](ProbeStatus status, const QString &text) {
            run = {inCall, true, status, text, run.captions, clock.elapsed()};
            probe.reset();
            loop.exitLoop();
        });
    inCall = false;
    if (connectTimeoutMs > 0)
        probe->setConnectTimeout(std::chrono::milliseconds(connectTimeoutMs));
    // A real event loop: qWaitFor() sleeps between its turns, which would
    // stretch every step of the probe.
    if (!run.done)
        loop.enterLoopMSecs(20000);
    return run;
}

// A loopback address in 127.0.0.0/8 that other test processes are unlikely to
// use, so that fixed ports (13, 25 ...) can be bound without collisions.
QByteArray privateLoopbackAddress(int salt)
{
    const int pid = int(::getpid());
    return QByteArrayLiteral("127.") + QByteArray::number(100 + pid % 150) + '.'
        + QByteArray::number((pid / 150) % 250 + 1) + '.' + QByteArray::number(salt % 250 + 2);
}

const QString Connecting = QStringLiteral("Connecting...");
const QString Sending = QStringLiteral("Sending...");

} // namespace

class TstPortProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void quitText_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("text");
        const QByteArray other = QByteArrayLiteral("\x04\r\nexit\r\nquit\r\n\r\n");
        QTest::newRow("80") << 80 << QByteArrayLiteral("GET\n\n\n\x04\n");
        QTest::newRow("23") << 23 << QByteArrayLiteral("\x04");
        QTest::newRow("13") << 13 << QByteArray();
        QTest::newRow("1352") << 1352 << QByteArrayLiteral("QUIT\n");
        QTest::newRow("40000 as 16-bit") << int(int16_t(40000)) << other;
    }
    void quitText()
    {
        QFETCH(int, port);
        QTEST(QuitText(int16_t(port)), "text");
    }

    void todos_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("bare LF and trailing CR")
            << QByteArrayLiteral("abc\ndef\r") << QByteArrayLiteral("abc\r\ndef\r\n");
        QTest::newRow("leading blanks go, a tab stays")
            << QByteArrayLiteral("  \tx") << QByteArrayLiteral("\tx");
        QTest::newRow("leading CR LF stays") << QByteArrayLiteral("\r\n*** Timeout on read ***")
                                             << QByteArrayLiteral("\r\n*** Timeout on read ***");
        QTest::newRow("LF after a dropped EOT still gets its CR")
            << QByteArrayLiteral("a\r\x04\n") << QByteArrayLiteral("a\r\r\n");
        QTest::newRow("trailing CR then EOT gets no LF")
            << QByteArrayLiteral("a\r\x04") << QByteArrayLiteral("a\r");
    }
    void todos()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QString text = latin1(in);
        sentrel::todos(text);
        QCOMPARE(text, latin1(out));
    }

    void connectFailureTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("host unreachable counts as down")
            << 10065 << 23 << 3 << QStringLiteral("Host not responding on port  23");
        QTest::newRow("network unreachable")
            << 10051 << 23 << 0
            << QStringLiteral("The network cannot be reached from this host at this time.");
        QTest::newRow("unlisted") << 20099 << 23 << 0 << QStringLiteral("Winsock Has Returned Error #20099");
        QTest::newRow("port above 32767 shown unsigned")
            << 10061 << int(int16_t(40000)) << -1 << QStringLiteral("Connection refused on port  40000");
    }
    void connectFailureTexts()
    {
        QFETCH(int, code);
        QFETCH(int, port);
        const ProbeOutcome outcome = connectFailure(code, int16_t(port));
        QTEST(int(outcome.status), "status");
        QTEST(outcome.text, "text");
    }

    void unansweredConnectTimesOut()
    {
        UnansweredPort unanswered;
        if (!unanswered.isValid())
            QSKIP(qPrintable(
                QStringLiteral("cannot make a port that drops SYNs: ") + unanswered.errorString()));
        const ProbeRun run = runProbe(unanswered.address(), unanswered.port(), 5, true, {}, {}, 400);
        QVERIFY(run.done && !run.finishedInsideCall);
        QCOMPARE(int(run.status), 3);
        QCOMPARE(
            run.text, QStringLiteral("Host not responding on port  ") + QString::number(unanswered.port()));
        QCOMPARE(run.captions, QStringList {Connecting});
        QVERIFY2(run.elapsedMs >= 350, qPrintable(QString::number(run.elapsedMs)));
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
        const ProbeRun run = runProbe(loopbackAddress(), 9, 5, true);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 0);
        QCOMPARE(run.text, QStringLiteral("no file descriptors left on this machine"));
        QVERIFY(run.captions.isEmpty());
    }

    // A peer that never closes: the read ends by the idle count, an abort or a reset.
    void peerThatNeverCloses_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<bool>("dosend");
        QTest::addColumn<QString>("abortAt");
        QTest::addColumn<QString>("resetAt");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("captions"); // empty: just the closing caption at the end
        const QString none;
        const QString timeout = QStringLiteral("\r\n*** Timeout on read ***");
        const QString r1 = QStringLiteral("Reading:  1"), r2 = QStringLiteral("Reading:  2");
        const QString r5 = QStringLiteral("Reading:  5");
        QTest::newRow("agent query times out") << QByteArray() << 2 << false << none << none << 2 << timeout
                                               << QStringList {Connecting, r2, r1, none};
        QTest::newRow("port check times out") << QByteArray() << 2 << true << none << none << 2 << timeout
                                              << QStringList {Connecting, Sending, r2, r1, none};
        QTest::newRow("abort after the first idle second")
            << QByteArrayLiteral("hello\n") << 10 << false << QStringLiteral("Reading:  9") << none << 1
            << QStringLiteral("hello\r\n") << QStringList {};
        QTest::newRow("abort before the first wait")
            << QByteArrayLiteral("hello\n") << 10 << false << QStringLiteral("Reading:  10") << none << 1
            << none << QStringList {};
        // A reset that the send sees is read as one the read would have seen: without a
        // reply byte it is a read error.
        QTest::newRow("reset before sending")
            << QByteArray() << 5 << true << none << Sending << 2
            << QStringLiteral("\r\n*** Error on read ***") << QStringList {Connecting, Sending, r5, none};
        // Nothing was sent, so a reset after a reply is still a read error.
        QTest::newRow("agent query reset after a reply")
            << QByteArrayLiteral("OK\n") << 5 << false << none << r5 << 2
            << QStringLiteral("OK\r\n\r\n*** Error on read ***") << QStringList {};
    }
    void peerThatNeverCloses()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(int, timeOut);
        QFETCH(bool, dosend);
        QFETCH(QString, abortAt);
        QFETCH(QString, resetAt);
        QFETCH(int, status);
        LoopbackServer peer({greeting, PeerScript::Then::Silent});
        QVERIFY2(peer.isListening(), qPrintable(peer.errorString()));
        bool abort = false;
        int resets = 0;
        const auto onCaption = [&](const QString &caption) {
            abort = abort || (!abortAt.isNull() && caption == abortAt);
            if (!resetAt.isNull() && caption == resetAt) {
                resets += peer.resetAll();
                // Long enough for the reset to reach the probe's socket on loopback.
                QThread::msleep(100);
            }
        };
        const ProbeRun run =
            runProbe(peer.address(), peer.port(), int16_t(timeOut), dosend, onCaption, [&] { return abort; });
        QVERIFY(run.done);
        QCOMPARE(int(run.status), status);
        QTEST(run.text, "text");
        // When the peer's data arrives among the captions depends on timing.
        QFETCH(QStringList, captions);
        if (captions.isEmpty())
            QCOMPARE(run.captions.constLast(), QString());
        else
            QCOMPARE(run.captions, captions);
        QCOMPARE(resets, resetAt.isNull() ? 0 : 1);
        QCOMPARE(peer.acceptedCount(), 1);
        QTRY_COMPARE(peer.openCount(), 0);
        // Two one-second waits without data, not fewer.
        if (status == 2 && resetAt.isNull())
            QVERIFY2(run.elapsedMs >= 1800, qPrintable(QString::number(run.elapsedMs)));
    }

    // A reply that is valid UTF-8 reads as UTF-8; anything else one character per byte, as always.
    // The closing text travels as ordinary data: every byte of it is in the peer's stream.
    // Servers that read lines of it and answer (`answers`), as a mail server and sshd do,
    // reset the connection when they close with part of it unread; after a reply byte that
    // counts as their close, before one it does not.
    void peerThatCloses_data()
    {
        QTest::addColumn<int>("port"); // 0: ephemeral
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("dosend");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QByteArray>("line"); // the line answered; empty: the first
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reply");
        const QByteArray none;
        QTest::newRow("closes at once") << 0 << none << true << false << none << none << 1 << QString();
        QTest::newRow("13 sends nothing") << 13 << QByteArrayLiteral("bye\r\n") << true << false << none
                                          << none << 1 << QStringLiteral("bye\r\n");
        QTest::newRow("bare LF, EOT and NUL")
            << 0 << QByteArrayLiteral("line1\nli\004ne2\0\nend") << false << false << none << none << 1
            << QStringLiteral("line1\r\nline2\r\nend");
        const QByteArray atCap(MaxReplyBytes, 'a');
        QTest::newRow("exactly the cap")
            << 0 << atCap << false << false << none << none << 1 << latin1(atCap);
        QTest::newRow("agent report in UTF-8")
            << 0
            << QByteArrayLiteral("OK\r\nTemp\xc3\xa9rature 45 \xc2\xb0"
                                 "C \xe2\x80\x93 \xc3\xa7"
                                 "a va\r\n")
            << false << false << none << none << 1
            << QStringLiteral("OK\r\nTemp\u00e9rature 45 \u00b0C \u2013 \u00e7a va\r\n");
        QTest::newRow("UTF-8 cut short at the end") << 0 << QByteArrayLiteral("220 Caf\xc3") << true << false
                                                    << none << none << 1 << QStringLiteral("220 Caf\u00c3");
        QTest::newRow("mail server answers a whole QUIT line and closes")
            << 25 << QByteArrayLiteral("220 mail ready\r\n") << true << true << QByteArrayLiteral("QUIT\r\n")
            << QByteArrayLiteral("221 bye\r\n") << 1 << QStringLiteral("220 mail ready\r\n221 bye\r\n");
        QTest::newRow("ssh server refuses the first line and resets")
            << 0 << QByteArrayLiteral("SSH-2.0-OpenSSH_9.2\r\n") << true << true << none
            << QByteArrayLiteral("Invalid SSH identification string.\r\n") << 1
            << QStringLiteral("SSH-2.0-OpenSSH_9.2\r\nInvalid SSH identification string.\r\n");
        QTest::newRow("reset before any reply byte is a read error")
            << 0 << none << true << true << none << none << 2 << QStringLiteral("\r\n*** Error on read ***");
    }
    void peerThatCloses()
    {
        QFETCH(int, port);
        QFETCH(QByteArray, greeting);
        QFETCH(bool, dosend);
        QFETCH(bool, answers);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        PeerScript script {greeting, answers ? PeerScript::Then::Answer : PeerScript::Then::Close};
        script.answerTo = line;
        script.answer = answer;
        const QByteArray host = port ? privateLoopbackAddress(port) : QByteArrayLiteral("127.0.0.1");
        LoopbackServer server(script, host, uint16_t(port));
        if (!server.isListening())
            QSKIP(qPrintable(QStringLiteral("cannot listen on a fixed port: ") + server.errorString()));
        const ProbeRun run = runProbe(server.address(), server.port(), 5, dosend);
        QVERIFY(run.done);
        QTEST(int(run.status), "status");
        QTEST(run.text, "reply");
        QCOMPARE(run.captions.constLast(), QString());
        QTRY_COMPARE(server.openCount(), 0);
        const QByteArray sent = dosend ? QuitText(int16_t(server.port())) : QByteArray();
        QCOMPARE(run.captions.contains(Sending), !sent.isEmpty());
        // A server answering the first line stopped reading after it; the others read the whole text.
        QCOMPARE(server.received(), answers && line.isEmpty() ? sent.left(sent.indexOf('\n') + 1) : sent);
    }

    // A banner service that answers and resets at once: whether the reset beats the closing
    // text or not, the banner it sent is the result, every time.
    void bannerThenResetGivesOneResult()
    {
        const int runs = 50;
        const QByteArray banner = QByteArrayLiteral("SSH-2.0-test\r\n");
        UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = loopbackAddress();
        socklen_t length = sizeof address;
        QVERIFY(listener && ::bind(listener.get(), reinterpret_cast<sockaddr *>(&address), length) == 0
            && ::listen(listener.get(), runs) == 0
            && ::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&address), &length) == 0);
        // Its own thread, as a real service's own process: the reset races the probe's send.
        std::thread peer([&listener, &banner, runs] {
            for (int i = 0; i < runs; ++i) {
                pollfd wait {listener.get(), POLLIN, 0};
                if (::poll(&wait, 1, 20000) != 1)
                    return;
                UniqueFd c(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
                const linger abort {1, 0};
                ::setsockopt(c.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                [[maybe_unused]] const ssize_t n =
                    ::send(c.get(), banner.constData(), size_t(banner.size()), MSG_NOSIGNAL);
            }
        });
        QStringList results;
        for (int i = 0; i < runs; ++i) {
            const ProbeRun run = runProbe(address.sin_addr.s_addr, ntohs(address.sin_port), 5, true);
            results << QString::number(run.status) + u' ' + run.text;
        }
        peer.join();
        QCOMPARE(results, QStringList(runs, QStringLiteral("1 SSH-2.0-test\r\n")));
    }

    // Data that keeps coming does not keep the read going: a stream is cut at the cap, idle
    // seconds add up over the whole read, and a peer that never pauses meets the read time limit.
    void peerThatKeepsSending_data()
    {
        QTest::addColumn<int>("intervalMs"); // 0: as fast as it can
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<bool>("timeLimit");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("tail");
        QTest::newRow("endless stream")
            << 0 << 5 << false << QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz\r\n0123")
            << QStringLiteral("\r\n*** Reply too long ***");
        QTest::newRow("pauses of 1.5 s") << 1500 << 2 << false << QStringLiteral("start.")
                                         << QStringLiteral(".\r\n*** Timeout on read ***");
        QTest::newRow("never pauses a second") << 150 << 1 << true << QStringLiteral("start.")
                                               << QStringLiteral(".\r\n*** Read time limit exceeded ***");
    }
    void peerThatKeepsSending()
    {
        QFETCH(int, intervalMs);
        QFETCH(int, timeOut);
        QFETCH(bool, timeLimit);
        QFETCH(QString, start);
        QFETCH(QString, tail);
        PeerScript script(intervalMs ? QByteArrayLiteral("start") : QByteArray(), PeerScript::Then::Trickle);
        script.intervalMs = intervalMs;
        if (!intervalMs)
            script.chunk = QByteArrayLiteral("0123456789abcdefghijklmnopqrstuvwxyz\r\n");
        LoopbackServer peer(script);
        QVERIFY2(peer.isListening(), qPrintable(peer.errorString()));
        const ProbeRun run = runProbe(peer.address(), peer.port(), int16_t(timeOut), intervalMs == 0);
        QVERIFY(run.done);
        QCOMPARE(int(run.status), 2);
        QVERIFY2(run.text.startsWith(start) && run.text.endsWith(tail), qPrintable(run.text.right(80)));
        if (intervalMs == 0)
            QCOMPARE(run.text.size(), MaxReplyBytes + tail.size());
        QVERIFY2((run.elapsedMs >= readTimeLimitMs(int16_t(timeOut))) == timeLimit,
            qPrintable(QString::number(run.elapsedMs)));
        // The probe closed its end, so the peer's connection ends too.
        QTRY_COMPARE(peer.openCount(), 0);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstPortProbe)
#include "tst_portprobe.moc"
