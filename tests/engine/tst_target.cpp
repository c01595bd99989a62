#include "engine/Target.h"

#include <QTest>

using namespace sentrel;

class TstTarget : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
