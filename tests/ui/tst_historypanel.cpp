#include "DesktopFakes.h"
#include "engine/Target.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "ui/GridColours.h"
#include "ui/HistoryPanel.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;

namespace {

const QString A = QStringLiteral("00000000000000a1");
constexpr qint64 Min = 60 * 1000;

// Ten checks of A, one a minute up to now: OK but for a DOWN third from last and a WARNING last.
void writeHistory(const QString &path, qint64 now)
{
    HistoryStore store(path);
    QVERIFY(store.openForWriting(now).ok());
    for (int i = 0; i < 10; ++i) {
        const int16_t status =
            i == 7 ? TargetStatus::Down : (i == 9 ? TargetStatus::Warning : TargetStatus::Ok);
        QVERIFY(store.record({{A, now - (10 - i) * Min, status, QString(), 1500 + i * 100}}, now).ok());
    }
}

} // namespace

class TestHistoryPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stripShowsTheLastChecksNewestOnTheRight()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        writeHistory(path, QDateTime::currentMSecsSinceEpoch());
        HistoryRecorder recorder(path);
        HistoryPanel panel(recorder);
        panel.resize(400, 240);
        panel.show();
        QSignalSpy ready(&recorder, &HistoryRecorder::historyReady);
        panel.showTarget(A);
        QTRY_VERIFY(panel.shown().checked);
        const QImage image = panel.grab().toImage();
        // Ticks are 4 pixels wide with 1 between them, right-aligned 4 pixels from the edge.
        const int right = image.width() - 6;
        const int y = 12;
        QCOMPARE(image.pixelColor(right, y), statusMarkColour(TargetStatus::Warning));
        QCOMPARE(image.pixelColor(right - 10, y), statusMarkColour(TargetStatus::Down));
        QCOMPARE(image.pixelColor(right - 45, y), statusMarkColour(TargetStatus::Ok));
        QCOMPARE(image.pixelColor(right - 50, y), panel.palette().color(QPalette::Base));

        // A Target never checked shows no strip at all.
        panel.showTarget(QStringLiteral("00000000000000b2"));
        QVERIFY(ready.wait(5000));
        QVERIFY(!panel.shown().checked);
        QCOMPARE(panel.grab().toImage().pixelColor(right, y), panel.palette().color(QPalette::Base));
    }

    // The window shows the highlighted Target's history beside its details; hiding it is kept.
    void windowKeepsTheChoiceToHideIt()
    {
        QTemporaryDir data;
        const QString history = data.filePath(QStringLiteral("history.sqlite"));
        writeHistory(history, QDateTime::currentMSecsSinceEpoch());
        test::ProgramRig p("[Window]\nEnable=False\nDetails=True\n[Targets]\nMaxHostNo=0\n"
                           "Hostname 0=127.0.0.1\nDesc 0=Local\nUid 0=00000000000000a1\n",
            false, nullptr, history);
        for (const bool shown : {true, false}) {
            if (!shown)
                p.start(); // again, from what was saved
            auto *panel = p.w->findChild<HistoryPanel *>(QStringLiteral("history"));
            QCOMPARE(panel->isVisible(), shown);
            QCOMPARE(p.action("opthistory")->isChecked(), shown);
            if (!shown)
                break;
            QTRY_VERIFY(panel->shown().checked);
            QCOMPARE(panel->uid(), A);
            QWidget *text = p.child("txtdata");
            const int narrow = text->width();
            p.action("opthistory")->trigger();
            QVERIFY(!panel->isVisible());
            QVERIFY(text->width() > narrow);
            p.w->save_registry();
        }
        QVERIFY(p.stored().contains("History=\"False\""));
    }
};

SENTREL_TEST_MAIN(TestHistoryPanel)
#include "tst_historypanel.moc"
