#include "CycleRig.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;
using namespace sentrel::test;

namespace {

const QString defaultLog = QStringLiteral("/opt/sentrel/sentrel.log");

// A table holding targets in slots; an empty host name leaves a free slot.
TargetTable tableOf(const QStringList &hosts)
{
    std::vector<Target> slots;
    for (const QString &h : hosts) {
        Target t;
        t.Hostname = h;
        t.Desc = h + QStringLiteral(" desc");
        t.Status = h.isEmpty() ? TargetStatus::Free : TargetStatus::Ok;
        slots.push_back(t);
    }
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

// Everything read_registry fills, read from the file at path.
struct Loaded
{
    TargetTable table;
    GlobalSettings settings;
    WindowState window;
};

Loaded load(const QString &path, WindowState window = {})
{
    Loaded l;
    l.window = window;
    read_registry(SettingsStore(path), l.table, l.settings, l.window, defaultLog);
    return l;
}

void save(const QString &path, const TargetTable &table, const GlobalSettings &settings = {},
    const WindowState &window = {})
{
    SettingsStore store(path);
    QVERIFY(save_registry(store, table, settings, window));
}

// The text stored under "Section/Key"; "<missing>" when there is none.
QString storedText(const QString &path, const QString &key)
{
    return SettingsStore(path).get(
        key.section(u'/', 0, 0), key.section(u'/', 1), QStringLiteral("<missing>"));
}

// The stored keys, spelled as in the file, as sorted "Section/Key=text" lines.
QStringList storedLines(const QString &path)
{
    QStringList lines;
    for (const QString &key : SettingsStore(path).keys())
        lines << key + u'=' + storedText(path, key);
    lines.sort();
    return lines;
}

// Writes "Section/Key=text" lines through a case-sensitive QSettings, as a hand-edited file holds them.
void writeRaw(const QString &path, const QStringList &lines)
{
    QSettings raw(path, QSettings::IniFormat);
    for (const QString &line : lines)
        raw.setValue(line.section(u'=', 0, 0), line.section(u'=', 1));
    raw.sync();
    QCOMPARE(raw.status(), QSettings::NoError);
}

// The sixteen stored fields of a Target.
QVariantList storedFields(const Target &t)
{
    return {t.Hostname, t.Port, t.PXPort, t.UsePX, t.UseM, t.UseP, t.UseIPX, t.Load, t.LoadLevel, t.Slots,
        t.MinSlots, t.Desc, t.User, t.Timeout, t.TimeOK, t.RTT};
}

} // namespace

class TstRegistry : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_path;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        // One file per test row, so no row sees another's keys.
        const QByteArray tag = QByteArray(QTest::currentDataTag()).toHex();
        m_path = m_dir.filePath(
            QString::fromLatin1(QTest::currentTestFunction() + QByteArray("-") + tag + ".ini"));
        QFile::remove(m_path);
    }

    // Free slots are not saved; a shorter table leaves the older keys in place, unread.
    void saveRenumbersUsedSlots()
    {
        save(m_path, tableOf({QStringLiteral("a"), QString(), QStringLiteral("c"), QStringLiteral("d")}));
        QCOMPARE(storedText(m_path, QStringLiteral("Targets/Desc 1")), QStringLiteral("c desc"));
        QCOMPARE(hostsOf(load(m_path).table), QStringLiteral("a c d"));

        save(m_path, tableOf({QStringLiteral("x")}));
        QCOMPARE(storedText(m_path, QStringLiteral("Targets/Hostname 2")), QStringLiteral("d"));
        QCOMPARE(hostsOf(load(m_path).table), QStringLiteral("x"));

        save(m_path, TargetTable());
        QCOMPARE(hostsOf(load(m_path).table), QStringLiteral("<free>"));
    }

    // History and metric series follow a Target's identity, so it must survive everything
    // but a change of host.
    void identityFollowsTheTarget()
    {
        // A store from before identities: the same list reads as the same identities.
        save(m_path, tableOf({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a")}));
        const TargetTable legacy = load(m_path).table;
        QStringList uids;
        for (const Target &t : legacy) {
            QVERIFY2(isTargetUid(t.Uid), qPrintable(t.Uid));
            uids << t.Uid;
        }
        QCOMPARE(QSet<QString>(uids.begin(), uids.end()).size(), 3);
        for (int16_t i = 0; i < 3; ++i)
            QCOMPARE(load(m_path).table[i].Uid, uids[i]);

        // Deleting a Target keeps the others' identities through a save and a restart.
        TargetTable table = legacy;
        table[0].Status = TargetStatus::Free;
        save(m_path, table);
        const TargetTable reread = load(m_path).table;
        QCOMPARE(reread[0].Uid, uids[1]);
        QCOMPARE(reread[1].Uid, uids[2]);

        // Importing the same hosts again keeps them; a new host gets a new identity.
        TargetTable imported = tableOf({QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("b")});
        adoptTargetUids(imported, reread);
        QCOMPARE(imported[0].Uid, uids[2]);
        QCOMPARE(imported[2].Uid, uids[1]);
        QVERIFY(isTargetUid(imported[1].Uid));
        QVERIFY(!uids.contains(imported[1].Uid));

        // A hand-copied line repeats an identity: the copy gets one of its own.
        writeRaw(m_path,
            {QStringLiteral("Targets/MaxHostNo=1"), QStringLiteral("Targets/Hostname 0=x"),
                QStringLiteral("Targets/Uid 0=00000000000000aa"), QStringLiteral("Targets/Hostname 1=y"),
                QStringLiteral("Targets/Uid 1=00000000000000aa")});
        const TargetTable copied = load(m_path).table;
        QCOMPARE(copied[0].Uid, QStringLiteral("00000000000000aa"));
        QVERIFY(isTargetUid(copied[1].Uid));
        QVERIFY(copied[1].Uid != copied[0].Uid);
    }

    void readsTargetsUpToMaxHostNo_data()
    {
        QTest::addColumn<QString>("maxHostNo");
        QTest::addColumn<QString>("hosts");
        // Rounded half to even; only indices that fit a 16-bit table position are read, however large.
        const char *const cases[][2] = {{"3", "h0 h2 h3"}, {"2.5", "h0 h2"}, {"3.5", "h0 h2 h3 h4"},
            {"abc", "h0"}, {"-1", "<free>"}, {"32766", "h0 h2 h3 h4 last"}, {"1e400", "h0 h2 h3 h4 last"}};
        for (const auto &c : cases)
            QTest::addRow("MaxHostNo %s", c[0]) << QString::fromLatin1(c[0]) << QString::fromLatin1(c[1]);
    }
    void readsTargetsUpToMaxHostNo()
    {
        QFETCH(QString, maxHostNo);
        QFETCH(QString, hosts);
        writeRaw(m_path,
            {QStringLiteral("Targets/MaxHostNo=") + maxHostNo, QStringLiteral("Targets/Hostname 0=h0"),
                QStringLiteral("Targets/Hostname 2=h2"), QStringLiteral("Targets/Port 2=25"),
                QStringLiteral("Targets/Hostname 3=h3"), QStringLiteral("Targets/Hostname 4=h4"),
                QStringLiteral("Targets/Hostname 32766=last"),
                QStringLiteral("Targets/Hostname 32767=beyond")});
        const Loaded l = load(m_path);
        QCOMPARE(hostsOf(l.table), hosts);
        // The keys of an index move up with its host name.
        for (const Target &t : l.table) {
            if (!t.isFree())
                QCOMPARE(t.Port, int16_t(t.Hostname == QLatin1String("h2") ? 25 : 13));
        }
    }

    void missingTargetKeysGiveDefaults()
    {
        writeRaw(m_path,
            {QStringLiteral("Targets/MaxHostNo=1"), QStringLiteral("Targets/Hostname 0=a.example"),
                QStringLiteral("Targets/Desc 0="), QStringLiteral("Targets/Hostname 1=b.example")});
        const Loaded l = load(m_path);
        QCOMPARE(l.table[0].Desc, QString());
        const Target &t = l.table[1];
        QCOMPARE(storedFields(t),
            (QVariantList {QStringLiteral("b.example"), int16_t(13), int16_t(3000), true, true, false, false,
                false, 100, true, int16_t(2), QStringLiteral("b.example"), QString(), int16_t(60), false,
                int16_t(0)}));
        QCOMPARE(t.Status, TargetStatus::Unknown);

        // An empty description also survives a save of its own.
        TargetTable table = tableOf({QStringLiteral("c")});
        table[0].Desc.clear();
        save(m_path, table);
        QCOMPARE(load(m_path).table[0].Desc, QString());
    }

    // Every key, each away from its default, reads back to a value that saves as the same text;
    // lengths with the locale's decimal separator.
    void storedTextsRoundTrip()
    {
        QStringList lines = QStringLiteral(
            "Targets/MaxHostNo=0|Targets/Hostname 0=nw-server|Targets/Port 0=45678|"
            "Targets/PXPort 0=32767|Targets/UsePX 0=False|Targets/UseM 0=False|Targets/UseP 0=True|"
            "Targets/UseIPX 0=True|Targets/Load 0=True|Targets/LoadLevel 0=-2147483648|"
            "Targets/Slots 0=False|Targets/MinSlots 0=-32768|Targets/Desc 0=Caf\u00e9, \"main\" = 1; [x]|"
            "Targets/User 0=Call @ops\r\nat once|Targets/Timeout 0=0|Targets/TimeOK 0=True|"
            "Targets/RTT 0=250|Targets/Uid 0=0123456789abcdef|Window/Width=6000,5|Window/Height=4000|"
            "Window/GHeight=2000,25|Window/DHeight=1|Window/DTop=2|Window/Left=10,5|Window/Top=3|"
            "Window/Split=1999|Window/Details=True|Window/Enable=False|Window/Delay= 15|Window/Decay=-3|"
            "Window/Col0=4|Window/Col1=5|Window/Col2=3|Window/Parallel=100|"
            "Logging/Filename=/var/log/sentrel.log|Logging/Enable=True|Logging/LogMode=1|"
            "Logging/LogSep=\t;|PopUp/Warn=True|PopUp/Error=False")
                                .split(u'|');
        writeRaw(m_path, lines);
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Loaded l = load(m_path);
        QFile::remove(m_path);
        save(m_path, l.table, l.settings, l.window);
        QLocale::setDefault(previous);
        QCOMPARE(l.window.Width, 6000.5);
        lines.sort();
        QCOMPARE(storedLines(m_path), lines);
    }

    // A value that does not convert, or lies beyond its field's range, reads as its key's default
    // (Width: the window's current one), which the next save stores. Window position and size
    // are held within the screen's limits.
    void unreadableValuesGiveDefaults_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        // A port is written as the user sees it; a negative one from an earlier save
        // names the same 16 bits.
        const char *const cases[][2] = {{"Targets/Port 0=70000", "13"}, {"Targets/PXPort 0=-2", "65534"},
            {"Targets/UsePX 0=yes", "True"}, {"Targets/LoadLevel 0=99999999999", "100"},
            {"Targets/LoadLevel 0=2147483647", "2147483647"}, {"Window/Delay=70000", " 1"},
            {"Window/Parallel=0", "128"}, {"Window/Parallel=257", "128"}, {"Window/Parallel=256", "256"},
            {"Window/Col2=12.5", "7500"}, {"Window/Width=wide", "6000"}, {"Window/Left=9001", "0"},
            {"Window/Left=9000", "9000"}, {"Window/Top=9000.5", "0"}, {"Window/Width=1000", "4665"},
            {"Window/Height=1799", "1800"}, {"Window/Height=1800", "1800"}};
        for (const auto &c : cases)
            QTest::newRow(c[0]) << QString::fromLatin1(c[0]) << QString::fromLatin1(c[1]);
    }
    void unreadableValuesGiveDefaults()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        writeRaw(
            m_path, {QStringLiteral("Targets/MaxHostNo=0"), QStringLiteral("Targets/Hostname 0=h"), line});
        const Loaded l = load(m_path, {.Width = 6000, .Height = 5000, .Left = 50, .Top = 60});
        save(m_path, l.table, l.settings, l.window);
        QCOMPARE(storedText(m_path, line.section(u'=', 0, 0)), expected);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstRegistry)
#include "tst_registry.moc"
