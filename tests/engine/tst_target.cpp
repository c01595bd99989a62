#include "engine/Target.h"

#include <QTest>

using namespace sentrel;

class TstTarget : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tableGrowsAndResets()
    {
        TargetTable t;
        QCOMPARE(t.size(), int16_t(1));
        QVERIFY(t[0].isFree());
        QCOMPARE(t.usedCount(), 0);
        t[0].Status = 1;
        t[0].Hostname = QStringLiteral("mail");
        const auto g = t.generation();
        QVERIFY(t.growtable());
        QCOMPARE(t.generation(), g);
        QCOMPARE(t.size(), int16_t(2));
        QCOMPARE(t[0].Hostname, QStringLiteral("mail"));
        const Target &fresh = t[1];
        QCOMPARE(fresh.Status, int16_t(0));
        QVERIFY(fresh.Hostname.isEmpty() && fresh.Desc.isEmpty() && fresh.Info.isEmpty());
        QCOMPARE(fresh.Port, int16_t(0));
        QCOMPARE(fresh.LoadLevel, 0);
        QCOMPARE(fresh.SmoothedRtt, 0.0);
        QVERIFY(!fresh.UseM && !fresh.UsePX && !fresh.UseP && !fresh.UseIPX && !fresh.Alerted);
        // Replacing the table is what a running cycle must notice.
        t.reset();
        QVERIFY(t.generation() != g);
        QCOMPARE(t.size(), int16_t(1));
        QVERIFY(t[0].isFree());
    }

    void longToInteger_data()
    {
        QTest::addColumn<int>("in");
        QTest::addColumn<int>("out");
        QTest::newRow("max positive") << 32767 << 32767;
        QTest::newRow("32768") << 32768 << -32768;
        QTest::newRow("65535") << 65535 << -1;
        QTest::newRow("high bits dropped") << 0x12345 << 0x2345;
        QTest::newRow("negative") << -1 << -1;
    }
    void longToInteger()
    {
        QFETCH(int, in);
        QFETCH(int, out);
        QCOMPARE(int(LongToInteger(in)), out);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstTarget)
#include "tst_target.moc"
