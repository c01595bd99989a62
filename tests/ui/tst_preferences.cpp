#include "ui/PreferencesDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <tuple>

using namespace sentrel;

namespace {

struct PrefsRig
{
    PrefsRig()
        : dialog(settings, 10.0, 8.25, nullptr, &desktop)
        , gridSpy(&dialog, &PreferencesDialog::gridFontSizeChosen)
        , detailsSpy(&dialog, &PreferencesDialog::detailsFontSizeChosen)
    { }
    // The size a font spy reported, 0 when none.
    static double chosen(const QSignalSpy &spy) { return spy.isEmpty() ? 0.0 : spy.last().at(0).toDouble(); }
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
    DesktopSettings desktop {false, true, false};
    PreferencesDialog dialog;
    QSignalSpy gridSpy;
    QSignalSpy detailsSpy;
};

} // namespace

class TstPreferences : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadsInSpacedForm()
    {
        PrefsRig rig;
        QStringList texts;
        for (const char *name : {"txtfreq", "txtdecay", "txtlbfont", "txtdbfont", "txtparallel"})
            texts << rig.box(name)->text();
        QCOMPARE(texts.join(QLatin1Char('|')), QStringLiteral(" 1| 5| 10| 8.25| 128"));
        QVERIFY(!rig.check("chkwarn")->isChecked() && rig.check("chkerror")->isChecked());
    }

    // The same text in every number box (interval, decay rate, parallel checks, both font sizes),
    // the pop-up and desktop boxes turned over, then Return in a box (which presses OK) or Cancel.
    void okReadsEveryBoxCancelNone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("delay"); // 7 before
        QTest::addColumn<int>("decay"); // 5 before
        QTest::addColumn<int>("parallel"); // 128 before
        QTest::addColumn<double>("font"); // reported for both boxes; 0: not reported, the font stays
        QTest::newRow("zero ignored") << "0" << true << 7 << 5 << 128 << 0.0;
        QTest::newRow("2.5 to even, fonts unrounded") << "2.5" << true << 2 << 2 << 2 << 2.5;
        QTest::newRow("0.4: interval 0, decay would divide by 0") << "0.4" << true << 0 << 5 << 128 << 0.4;
        QTest::newRow("parallel top") << "256" << true << 256 << 256 << 256 << 256.0;
        QTest::newRow("above parallel top") << "257" << true << 257 << 257 << 128 << 257.0;
        QTest::newRow("font top") << "512" << true << 512 << 512 << 128 << 512.0;
        QTest::newRow("beyond the toolkit's fonts") << "513" << true << 513 << 513 << 128 << 0.0;
        QTest::newRow("16-bit top") << "32767" << true << 32767 << 32767 << 128 << 0.0;
        QTest::newRow("beyond 16 bits ignored") << "32768" << true << 7 << 5 << 128 << 0.0;
        QTest::newRow("cancel after editing every box") << "3" << false << 7 << 5 << 128 << 0.0;
    }
    void okReadsEveryBoxCancelNone()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, delay);
        QFETCH(int, decay);
        QFETCH(int, parallel);
        QFETCH(double, font);
        PrefsRig rig;
        rig.dialog.show();
        rig.settings.Delay = 7;
        for (const char *name : {"txtfreq", "txtdecay", "txtparallel", "txtlbfont", "txtdbfont"})
            rig.type(name, text);
        for (const char *name : {"chkwarn", "chkerror", "chktray", "chknotify", "chkgroup"})
            QTest::mouseClick(rig.check(name), Qt::LeftButton, {}, QPoint(6, rig.check(name)->height() / 2));
        if (ok)
            QTest::keyClick(rig.box("txtdbfont"), Qt::Key_Return);
        else
            rig.click("cmdcancel");
        QVERIFY(!rig.dialog.isVisible());
        QCOMPARE(int(rig.settings.Delay), delay);
        QCOMPARE(int(rig.settings.Decay), decay);
        QCOMPARE(int(rig.settings.Parallel), parallel);
        QCOMPARE(rig.settings.Warn, ok);
        QCOMPARE(rig.settings.Error, !ok);
        QVERIFY(
            rig.desktop == (ok ? DesktopSettings {true, false, true} : DesktopSettings {false, true, false}));
        QCOMPARE(std::tuple(rig.gridSpy.size(), PrefsRig::chosen(rig.gridSpy)), std::tuple(font > 0, font));
        QCOMPARE(
            std::tuple(rig.detailsSpy.size(), PrefsRig::chosen(rig.detailsSpy)), std::tuple(font > 0, font));
    }

    void untouchedBoxesKeepSwitchesFlippedMeanwhile()
    {
        // Shift+F12 and the window's own settings change while the modeless window is open.
        PrefsRig rig;
        rig.settings.Warn = true;
        rig.settings.Error = false;
        QTest::mouseClick(rig.check("chkerror"), Qt::LeftButton);
        QTest::mouseClick(rig.check("chkerror"), Qt::LeftButton);
        rig.click("cmdok");
        QVERIFY(rig.settings.Warn && !rig.settings.Error);
    }

    void oneInstanceNotReloaded()
    {
        GlobalSettings settings;
        QPointer<PreferencesDialog> instance;
        PreferencesDialog *first = PreferencesDialog::showPreferences(instance, settings, 10, 10, nullptr);
        QVERIFY(first->isVisible());
        auto *freq = first->findChild<QLineEdit *>(QStringLiteral("txtfreq"));
        freq->setText(QStringLiteral("typed"));
        settings.Delay = 9;
        QCOMPARE(PreferencesDialog::showPreferences(instance, settings, 10, 10, nullptr), first);
        QCOMPARE(freq->text(), QStringLiteral("typed"));

        // Closing deletes the window; the next one loads afresh.
        first->close();
        QTRY_VERIFY(!instance);
        PreferencesDialog *second = PreferencesDialog::showPreferences(instance, settings, 10, 10, nullptr);
        QCOMPARE(second->findChild<QLineEdit *>(QStringLiteral("txtfreq"))->text(), QStringLiteral(" 9"));
        delete second;
    }
};

SENTREL_TEST_MAIN(TstPreferences)
#include "tst_preferences.moc"
