#include "ui/PreferencesDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace sentrel;

namespace {

struct Rig
{
    Rig()
        : dialog(settings, 10.0, 8.25)
        , spy(&dialog, &PreferencesDialog::fontSizesChosen)
    { }
    QLineEdit *box(const char *name) { return dialog.findChild<QLineEdit *>(QString::fromLatin1(name)); }
    QCheckBox *check(const char *name) { return dialog.findChild<QCheckBox *>(QString::fromLatin1(name)); }
    void type(const char *name, const QString &text)
    {
        box(name)->clear();
        QTest::keyClicks(box(name), text);
    }
    void click(const char *name)
    {
        QTest::mouseClick(dialog.findChild<QPushButton *>(QString::fromLatin1(name)), Qt::LeftButton);
    }

    GlobalSettings settings;
    PreferencesDialog dialog;
    QSignalSpy spy;
};

} // namespace

class TstPreferences : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadsInSpacedForm()
    {
        Rig rig;
        QCOMPARE(rig.dialog.objectName(), QStringLiteral("frmpref"));
        QCOMPARE(rig.dialog.windowTitle(), QStringLiteral("User Preferences"));
        QVERIFY(!rig.dialog.isModal());
        QCOMPARE(rig.box("txtfreq")->text(), QStringLiteral(" 1"));
        QCOMPARE(rig.box("txtdecay")->text(), QStringLiteral(" 5"));
        QCOMPARE(rig.box("txtlbfont")->text(), QStringLiteral(" 10"));
        QCOMPARE(rig.box("txtdbfont")->text(), QStringLiteral(" 8.25"));
        QCOMPARE(rig.box("txtparallel")->text(), QStringLiteral(" 32"));
        QVERIFY(!rig.check("chkwarn")->isChecked());
        QVERIFY(rig.check("chkerror")->isChecked());
    }

    void updateFrequency_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("delay");
        QTest::newRow("zero ignored") << "0" << 7;
        QTest::newRow("negative ignored") << "-3" << 7;
        QTest::newRow("text ignored") << "abc" << 7;
        QTest::newRow("2.5 to even") << "2.5" << 2;
        QTest::newRow("3.5 to even") << "3.5" << 4;
        QTest::newRow("0.4 gives 0") << "0.4" << 0;
        QTest::newRow("trailing text") << "10 min" << 10;
        QTest::newRow("16-bit top") << "32767" << 32767;
        QTest::newRow("beyond 16 bits ignored") << "32768" << 7;
        QTest::newRow("huge ignored") << "1e40" << 7;
    }
    void updateFrequency()
    {
        QFETCH(QString, text);
        QFETCH(int, delay);
        Rig rig;
        rig.settings.Delay = 7;
        rig.type("txtfreq", text);
        rig.click("cmdok");
        QCOMPARE(int(rig.settings.Delay), delay);
        QVERIFY(!rig.dialog.isVisible());
    }

    void decayRate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("decay");
        QTest::newRow("ten") << "10" << 10;
        QTest::newRow("1.5 to even") << "1.5" << 2;
        QTest::newRow("0.4 would divide by zero") << "0.4" << 5;
        QTest::newRow("0.5 would divide by zero") << "0.5" << 5;
        QTest::newRow("zero") << "0" << 5;
        QTest::newRow("negative") << "-1" << 5;
        QTest::newRow("beyond 16 bits") << "40000" << 5;
    }
    void decayRate()
    {
        QFETCH(QString, text);
        QFETCH(int, decay);
        Rig rig;
        rig.type("txtdecay", text);
        rig.click("cmdok");
        QCOMPARE(int(rig.settings.Decay), decay);
    }

    void parallelChecks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("parallel");
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("top") << "256" << 256;
        QTest::newRow("above top") << "257" << 32;
        QTest::newRow("rounds to 0") << "0.5" << 32;
        QTest::newRow("1.5 to even") << "1.5" << 2;
        QTest::newRow("zero") << "0" << 32;
        QTest::newRow("text") << "many" << 32;
    }
    void parallelChecks()
    {
        QFETCH(QString, text);
        QFETCH(int, parallel);
        Rig rig;
        rig.type("txtparallel", text);
        rig.click("cmdok");
        QCOMPARE(int(rig.settings.Parallel), parallel);
    }

    void fontSizes_data()
    {
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("details");
        QTest::addColumn<double>("gridSize");
        QTest::addColumn<double>("detailsSize");
        QTest::newRow("both set, unrounded") << "12"
                                             << "9.5" << 12.0 << 9.5;
        QTest::newRow("zero and text keep") << "0"
                                            << "big" << 10.0 << 8.25;
        QTest::newRow("negative keeps") << "-2"
                                        << "7" << 10.0 << 7.0;
        QTest::newRow("beyond the toolkit keeps") << "100000"
                                                  << "512" << 10.0 << 512.0;
    }
    void fontSizes()
    {
        QFETCH(QString, grid);
        QFETCH(QString, details);
        QFETCH(double, gridSize);
        QFETCH(double, detailsSize);
        Rig rig;
        rig.type("txtlbfont", grid);
        rig.type("txtdbfont", details);
        rig.click("cmdok");
        QCOMPARE(rig.spy.count(), 1);
        QCOMPARE(rig.spy.at(0).at(0).toDouble(), gridSize);
        QCOMPARE(rig.spy.at(0).at(1).toDouble(), detailsSize);
    }

    void popUpBoxesSetWarnAndError()
    {
        Rig rig;
        QTest::mouseClick(rig.check("chkwarn"), Qt::LeftButton);
        QTest::mouseClick(rig.check("chkerror"), Qt::LeftButton);
        rig.click("cmdok");
        QVERIFY(rig.settings.Warn);
        QVERIFY(!rig.settings.Error);
    }

    void cancelChangesNothing()
    {
        Rig rig;
        const GlobalSettings before = rig.settings;
        for (const char *name : {"txtfreq", "txtdecay", "txtlbfont", "txtdbfont", "txtparallel"})
            rig.type(name, QStringLiteral("3"));
        QTest::mouseClick(rig.check("chkwarn"), Qt::LeftButton);
        rig.click("cmdcancel");
        QVERIFY(!rig.dialog.isVisible());
        QCOMPARE(rig.spy.count(), 0);
        QCOMPARE(rig.settings.Delay, before.Delay);
        QCOMPARE(rig.settings.Decay, before.Decay);
        QCOMPARE(rig.settings.Warn, before.Warn);
        QCOMPARE(rig.settings.Parallel, before.Parallel);
    }

    void oneInstanceNotReloaded()
    {
        GlobalSettings settings;
        QPointer<PreferencesDialog> instance;
        PreferencesDialog *first = PreferencesDialog::showPreferences(instance, settings, 10, 10, nullptr);
        QVERIFY(first->isVisible());
        QVERIFY(first->testAttribute(Qt::WA_DeleteOnClose));
        auto *freq = first->findChild<QLineEdit *>(QStringLiteral("txtfreq"));
        freq->setText(QStringLiteral("typed"));
        settings.Delay = 9;
        QCOMPARE(PreferencesDialog::showPreferences(instance, settings, 10, 10, nullptr), first);
        QCOMPARE(freq->text(), QStringLiteral("typed"));

        first->close();
        QTRY_VERIFY(!instance);
        PreferencesDialog *second = PreferencesDialog::showPreferences(instance, settings, 10, 10, nullptr);
        QCOMPARE(second->findChild<QLineEdit *>(QStringLiteral("txtfreq"))->text(), QStringLiteral(" 9"));
        delete second;
    }
};

QTEST_MAIN(TstPreferences)
#include "tst_preferences.moc"
