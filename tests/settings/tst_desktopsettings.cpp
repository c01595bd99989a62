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
    // An empty store keeps the old behaviour; an unreadable value is its default.
    void readDefaultsAndStoredValues()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Sentrel.ini"));
        QVERIFY(readDesktopSettings(SettingsStore(path)) == (DesktopSettings {false, false, false}));
        QVERIFY(writeBytes(path, "[Window]\nHideToTray=1\n[PopUp]\nNotify=yes\nGroupAlerts=True\n"));
        QVERIFY(readDesktopSettings(SettingsStore(path)) == (DesktopSettings {false, false, true}));
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
