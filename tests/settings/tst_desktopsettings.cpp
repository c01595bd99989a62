#include "TestFiles.h"
#include "settings/DesktopSettings.h"
#include "settings/SettingsStore.h"

#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;
using namespace sentrel::test;

class TstDesktopSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readDefaultsAndStoredValues_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("hideToTray");
        QTest::addColumn<bool>("notify");
        QTest::addColumn<bool>("groupAlerts");
        QTest::newRow("empty store keeps the old behaviour") << QByteArray() << false << false << false;
        QTest::newRow("all on, any letter case")
            << QByteArrayLiteral("[window]\nhidetotray=true\n[PopUp]\nNotify=TRUE\nGroupAlerts=True\n")
            << true << true << true;
        QTest::newRow("unreadable is the default")
            << QByteArrayLiteral("[Window]\nHideToTray=1\n[PopUp]\nNotify=yes\nGroupAlerts=True\n") << false
            << false << true;
    }
    void readDefaultsAndStoredValues()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, hideToTray);
        QFETCH(bool, notify);
        QFETCH(bool, groupAlerts);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Sentrel.ini"));
        QVERIFY(writeBytes(path, ini));
        const DesktopSettings s = readDesktopSettings(SettingsStore(path));
        QCOMPARE(s.HideToTray, hideToTray);
        QCOMPARE(s.Notify, notify);
        QCOMPARE(s.GroupAlerts, groupAlerts);
    }

    void savedKeysReadBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Sentrel.ini"));
        for (const DesktopSettings &s :
            {DesktopSettings {true, false, true}, DesktopSettings {false, true, false}}) {
            {
                SettingsStore store(path);
                saveDesktopSettings(store, s);
                QVERIFY(store.sync());
            }
            const SettingsStore store(path);
            QCOMPARE(store.get(QStringLiteral("Window"), QStringLiteral("HideToTray"), {}),
                s.HideToTray ? QStringLiteral("True") : QStringLiteral("False"));
            QVERIFY(readDesktopSettings(store) == s);
        }
    }
};

SENTREL_TEST_GUILESS_MAIN(TstDesktopSettings)
#include "tst_desktopsettings.moc"
