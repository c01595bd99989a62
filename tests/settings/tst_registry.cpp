#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace sentrel;

namespace {

const QString defaultLog = QStringLiteral("/opt/sentrel/sentrel.log");

Target makeTarget(const QString &host, int16_t port = 13)
{
    Target t;
    t.Hostname = host;
    t.Desc = host + QStringLiteral(" desc");
    t.Port = port;
    t.Status = TargetStatus::Ok;
    return t;
}

// A table holding targets in slots; a null host name leaves a free slot.
TargetTable tableOf(const QStringList &hosts)
{
    std::vector<Target> slots;
    for (const QString &h : hosts) {
        Target t = makeTarget(h);
        if (h.isEmpty())
            t.Status = TargetStatus::Free;
        slots.push_back(t);
    }
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *n : list)
        out << QString::fromLatin1(n);
    return out;
}

QStringList hostsOf(const TargetTable &table)
{
    QStringList hosts;
    for (const Target &t : table)
        hosts << (t.isFree() ? QStringLiteral("<free>") : t.Hostname);
    return hosts;
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
    const SettingsStore store(path);
    read_registry(store, l.table, l.settings, l.window, defaultLog);
    return l;
}

void save(const QString &path, const TargetTable &table, const GlobalSettings &settings = {},
    const WindowState &window = {})
{
    SettingsStore store(path);
    QVERIFY(save_registry(store, table, settings, window));
}

// The stored keys ("Section/Key", spelled as in the file) and their texts.
QMap<QString, QString> storedKeys(const QString &path)
{
    const SettingsStore store(path);
    QMap<QString, QString> stored;
    const QStringList keys = store.keys();
    for (const QString &key : keys) {
        const qsizetype slash = key.indexOf(u'/');
        stored.insert(key, store.get(key.left(slash), key.mid(slash + 1), QString()));
    }
    return stored;
}

// Writes keys ("Section/Key" -> text) through a case-sensitive QSettings, as a hand-edited file would hold
// them.
void writeRaw(const QString &path, const QList<QPair<QString, QString>> &keys)
{
    QSettings raw(path, QSettings::IniFormat);
    for (const auto &[key, text] : keys)
        raw.setValue(key, text);
    raw.sync();
    QCOMPARE(raw.status(), QSettings::NoError);
}

QVariant fieldOf(const Loaded &l, const QString &name)
{
    const Target &t = l.table[0];
    if (name == QLatin1String("Port"))
        return t.Port;
    if (name == QLatin1String("PXPort"))
        return t.PXPort;
    if (name == QLatin1String("UsePX"))
        return t.UsePX;
    if (name == QLatin1String("UseP"))
        return t.UseP;
    if (name == QLatin1String("Slots"))
        return t.Slots;
    if (name == QLatin1String("LoadLevel"))
        return t.LoadLevel;
    if (name == QLatin1String("MinSlots"))
        return t.MinSlots;
    if (name == QLatin1String("Timeout"))
        return t.Timeout;
    if (name == QLatin1String("TimeOK"))
        return t.TimeOK;
    if (name == QLatin1String("RTT"))
        return t.RTT;
    if (name == QLatin1String("Delay"))
        return l.settings.Delay;
    if (name == QLatin1String("Decay"))
        return l.settings.Decay;
    if (name == QLatin1String("LogMode"))
        return l.settings.LogMode;
    if (name == QLatin1String("Warn"))
        return l.settings.Warn;
    if (name == QLatin1String("Error"))
        return l.settings.Error;
    if (name == QLatin1String("Parallel"))
        return l.settings.Parallel;
    if (name == QLatin1String("Col2"))
        return l.window.Col2;
    if (name == QLatin1String("Details"))
        return l.window.Details;
    if (name == QLatin1String("Enable"))
        return l.window.Enable;
    if (name == QLatin1String("LoggingEnabled"))
        return l.window.LoggingEnabled;
    if (name == QLatin1String("Width"))
        return l.window.Width;
    return QStringLiteral("unknown field %1").arg(name);
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
        const QByteArray tag =
            QTest::currentDataTag() ? QByteArray(QTest::currentDataTag()).toHex() : QByteArray();
        m_path = m_dir.filePath(
            QStringLiteral("%1-%2.ini")
                .arg(QString::fromLatin1(QTest::currentTestFunction()), QString::fromLatin1(tag)));
        QFile::remove(m_path);
    }

    void keyExampleStoresExactTexts()
    {
        Target t;
        t.Hostname = QStringLiteral("192.0.2.10");
        t.Desc = QStringLiteral("Mail server");
        t.Port = 25;
        t.PXPort = 3000;
        t.UseM = true;
        t.LoadLevel = 100;
        t.Slots = true;
        t.MinSlots = 2;
        t.Timeout = 60;
        t.Status = TargetStatus::Down;
        TargetTable table;
        table.assign({t});
        GlobalSettings settings;
        settings.Delay = 5;
        WindowState window;
        window.Width = 9000;
        window.Height = 6000;
        window.Left = 120;
        window.Top = 240;
        window.Col0 = 1500;
        window.Col1 = 2000;
        save(m_path, table, settings, window);

        const QList<QPair<QString, QString>> expected = {
            {QStringLiteral("Targets/Hostname 0"), QStringLiteral("192.0.2.10")},
            {QStringLiteral("Targets/Port 0"), QStringLiteral("25")},
            {QStringLiteral("Targets/PXPort 0"), QStringLiteral("3000")},
            {QStringLiteral("Targets/UsePX 0"), QStringLiteral("False")},
            {QStringLiteral("Targets/UseM 0"), QStringLiteral("True")},
            {QStringLiteral("Targets/UseP 0"), QStringLiteral("False")},
            {QStringLiteral("Targets/UseIPX 0"), QStringLiteral("False")},
            {QStringLiteral("Targets/Load 0"), QStringLiteral("False")},
            {QStringLiteral("Targets/LoadLevel 0"), QStringLiteral("100")},
            {QStringLiteral("Targets/Slots 0"), QStringLiteral("True")},
            {QStringLiteral("Targets/MinSlots 0"), QStringLiteral("2")},
            {QStringLiteral("Targets/Desc 0"), QStringLiteral("Mail server")},
            {QStringLiteral("Targets/User 0"), QString()},
            {QStringLiteral("Targets/Timeout 0"), QStringLiteral("60")},
            {QStringLiteral("Targets/TimeOK 0"), QStringLiteral("False")},
            {QStringLiteral("Targets/RTT 0"), QStringLiteral("0")},
            {QStringLiteral("Targets/MaxHostNo"), QStringLiteral("0")},
            {QStringLiteral("Window/Width"), QStringLiteral("9000")},
            {QStringLiteral("Window/Height"), QStringLiteral("6000")},
            {QStringLiteral("Window/GHeight"), QStringLiteral("0")},
            {QStringLiteral("Window/DHeight"), QStringLiteral("0")},
            {QStringLiteral("Window/DTop"), QStringLiteral("0")},
            {QStringLiteral("Window/Left"), QStringLiteral("120")},
            {QStringLiteral("Window/Top"), QStringLiteral("240")},
            {QStringLiteral("Window/Split"), QStringLiteral("0")},
            {QStringLiteral("Window/Details"), QStringLiteral("False")},
            {QStringLiteral("Window/Enable"), QStringLiteral("True")},
            {QStringLiteral("Window/Delay"), QStringLiteral(" 5")},
            {QStringLiteral("Window/Decay"), QStringLiteral(" 5")},
            {QStringLiteral("Window/Col0"), QStringLiteral("1500")},
            {QStringLiteral("Window/Col1"), QStringLiteral("2000")},
            {QStringLiteral("Window/Col2"), QStringLiteral("7500")},
            {QStringLiteral("Window/Parallel"), QStringLiteral("32")},
            {QStringLiteral("Logging/Filename"), QString()},
            {QStringLiteral("Logging/Enable"), QStringLiteral("False")},
            {QStringLiteral("Logging/LogMode"), QStringLiteral("0")},
            {QStringLiteral("Logging/LogSep"), QStringLiteral(",")},
            {QStringLiteral("PopUp/Warn"), QStringLiteral("False")},
            {QStringLiteral("PopUp/Error"), QStringLiteral("True")},
        };
        const QMap<QString, QString> raw = storedKeys(m_path);
        QStringList expectedKeys;
        for (const auto &[key, text] : expected) {
            QVERIFY2(raw.contains(key), qPrintable(key));
            QCOMPARE(raw.value(key), text);
            expectedKeys << key;
        }
        QStringList keys = raw.keys();
        keys.sort();
        expectedKeys.sort();
        QCOMPARE(keys, expectedKeys);
    }

    void saveRenumbersUsedSlots()
    {
        save(m_path, tableOf({QStringLiteral("a"), QString(), QStringLiteral("c"), QStringLiteral("d")}));
        const QMap<QString, QString> raw = storedKeys(m_path);
        QCOMPARE(raw.value(QStringLiteral("Targets/MaxHostNo")), QStringLiteral("2"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Hostname 0")), QStringLiteral("a"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Hostname 1")), QStringLiteral("c"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Hostname 2")), QStringLiteral("d"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Desc 1")), QStringLiteral("c desc"));
        QVERIFY(!raw.contains(QStringLiteral("Targets/Hostname 3")));
        QCOMPARE(hostsOf(load(m_path).table), names({"a", "c", "d"}));
    }

    void emptyTableHidesOlderTargetKeys()
    {
        save(m_path, tableOf({QStringLiteral("a"), QStringLiteral("b")}));
        save(m_path, TargetTable());
        const QMap<QString, QString> raw = storedKeys(m_path);
        QCOMPARE(raw.value(QStringLiteral("Targets/MaxHostNo")), QStringLiteral("-1"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Hostname 0")), QStringLiteral("a"));
        QCOMPARE(hostsOf(load(m_path).table), QStringList {QStringLiteral("<free>")});
    }

    void shorterTableLeavesHigherKeysUnread()
    {
        save(m_path, tableOf({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        save(m_path, tableOf({QStringLiteral("x")}));
        const QMap<QString, QString> raw = storedKeys(m_path);
        QCOMPARE(raw.value(QStringLiteral("Targets/Hostname 2")), QStringLiteral("c"));
        QCOMPARE(hostsOf(load(m_path).table), QStringList {QStringLiteral("x")});
    }

    void readPassesOverMissingHostnames()
    {
        writeRaw(m_path,
            {{QStringLiteral("Targets/MaxHostNo"), QStringLiteral("3")},
                {QStringLiteral("Targets/Hostname 0"), QStringLiteral("a")},
                {QStringLiteral("Targets/Hostname 2"), QStringLiteral("c")},
                {QStringLiteral("Targets/Port 2"), QStringLiteral("25")},
                {QStringLiteral("Targets/Hostname 3"), QStringLiteral("d")}});
        const Loaded l = load(m_path);
        QCOMPARE(hostsOf(l.table), names({"a", "c", "d"}));
        QCOMPARE(l.table[1].Port, int16_t(25));
        QCOMPARE(l.table[2].Port, int16_t(13));
    }

    void noHostnameGivesEmptyTable_data()
    {
        QTest::addColumn<QString>("hostname0");
        QTest::newRow("missing") << QString();
        QTest::newRow("empty") << QStringLiteral("");
    }
    void noHostnameGivesEmptyTable()
    {
        QFETCH(QString, hostname0);
        QList<QPair<QString, QString>> keys = {{QStringLiteral("Targets/MaxHostNo"), QStringLiteral("3")},
            {QStringLiteral("Targets/Port 1"), QStringLiteral("25")}};
        if (!hostname0.isNull())
            keys.append({QStringLiteral("Targets/Hostname 0"), hostname0});
        writeRaw(m_path, keys);
        QCOMPARE(hostsOf(load(m_path).table), QStringList {QStringLiteral("<free>")});
    }

    void maxHostNoText_data()
    {
        QTest::addColumn<QString>("maxHostNo");
        QTest::addColumn<int>("targets");
        QTest::newRow("whole") << QStringLiteral("4") << 5;
        QTest::newRow("tie down to even") << QStringLiteral("2.5") << 3;
        QTest::newRow("tie up to even") << QStringLiteral("3.5") << 5;
        QTest::newRow("leading part") << QStringLiteral("1.5abc") << 3;
        QTest::newRow("spaced") << QStringLiteral(" 1") << 2;
        QTest::newRow("not a number") << QStringLiteral("abc") << 1;
        QTest::newRow("rounds to zero") << QStringLiteral("-0.4") << 1;
        QTest::newRow("minus one") << QStringLiteral("-1") << 0;
        QTest::newRow("beyond stored") << QStringLiteral("9") << 6;
    }
    void maxHostNoText()
    {
        QFETCH(QString, maxHostNo);
        QFETCH(int, targets);
        QList<QPair<QString, QString>> keys = {{QStringLiteral("Targets/MaxHostNo"), maxHostNo}};
        for (int j = 0; j < 6; ++j)
            keys.append({QStringLiteral("Targets/Hostname %1").arg(j), QStringLiteral("h%1").arg(j)});
        writeRaw(m_path, keys);
        const Loaded l = load(m_path);
        QCOMPARE(l.table.usedCount(), targets);
        QCOMPARE(int(l.table.size()), qMax(targets, 1));
    }

    void hugeMaxHostNoReadsSixteenBitIndices_data()
    {
        QTest::addColumn<QString>("maxHostNo");
        QTest::newRow("99999") << QStringLiteral("99999");
        QTest::newRow("1e9") << QStringLiteral("1e9");
        QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648");
        QTest::newRow("overflow") << QStringLiteral("1e400");
        QTest::newRow("largest index") << QStringLiteral("32766");
    }
    void hugeMaxHostNoReadsSixteenBitIndices()
    {
        QFETCH(QString, maxHostNo);
        writeRaw(m_path,
            {{QStringLiteral("Targets/MaxHostNo"), maxHostNo},
                {QStringLiteral("Targets/Hostname 0"), QStringLiteral("first")},
                {QStringLiteral("Targets/Hostname 32766"), QStringLiteral("last")},
                {QStringLiteral("Targets/Hostname 32767"), QStringLiteral("beyond")},
                {QStringLiteral("Targets/Hostname 40000"), QStringLiteral("far beyond")}});
        const Loaded l = load(m_path);
        QCOMPARE(hostsOf(l.table), names({"first", "last"}));
    }

    void descMissingOrEmpty()
    {
        writeRaw(m_path,
            {{QStringLiteral("Targets/MaxHostNo"), QStringLiteral("1")},
                {QStringLiteral("Targets/Hostname 0"), QStringLiteral("a.example")},
                {QStringLiteral("Targets/Desc 0"), QString()},
                {QStringLiteral("Targets/Hostname 1"), QStringLiteral("b.example")}});
        const Loaded l = load(m_path);
        QCOMPARE(l.table[0].Desc, QString());
        QCOMPARE(l.table[1].Desc, QStringLiteral("b.example"));

        // An empty description also survives a save of its own.
        TargetTable table = tableOf({QStringLiteral("c")});
        table[0].Desc.clear();
        save(m_path, table);
        QCOMPARE(load(m_path).table[0].Desc, QString());
    }

    void targetDefaultsAndRunTimeFields()
    {
        writeRaw(m_path, {{QStringLiteral("Targets/Hostname 0"), QStringLiteral("only")}});
        const Loaded l = load(m_path);
        QCOMPARE(l.table.size(), int16_t(1));
        const Target &t = l.table[0];
        QCOMPARE(t.Port, int16_t(13));
        QCOMPARE(t.PXPort, int16_t(3000));
        QVERIFY(t.UsePX && t.UseM && !t.UseP && !t.UseIPX && !t.Load && t.Slots && !t.TimeOK);
        QCOMPARE(t.LoadLevel, 100);
        QCOMPARE(t.MinSlots, int16_t(2));
        QCOMPARE(t.Desc, QStringLiteral("only"));
        QCOMPARE(t.User, QString());
        QCOMPARE(t.Timeout, int16_t(60));
        QCOMPARE(t.RTT, int16_t(0));
        QCOMPARE(t.Status, TargetStatus::Unknown);
        QCOMPARE(t.SmoothedRtt, -1.0);
        QVERIFY(t.Info.isEmpty() && t.Output.isEmpty() && !t.Alerted && t.Row == 0 && !t.LastCheck.isValid());
    }

    void definitionsRoundTrip()
    {
        Target t;
        t.Hostname = QStringLiteral("nw-server");
        t.Port = -2;
        t.PXPort = 32767;
        t.UsePX = false;
        t.UseM = false;
        t.UseP = true;
        t.UseIPX = true;
        t.Load = true;
        t.LoadLevel = -2147483647 - 1;
        t.Slots = false;
        t.MinSlots = -32768;
        t.Desc = QStringLiteral("Caf\u00e9, \"main\" = 1; [x]");
        t.User = QStringLiteral("Call @ops\r\nat once");
        t.Timeout = 0;
        t.TimeOK = true;
        t.RTT = 250;
        t.Status = TargetStatus::Warning;
        t.SmoothedRtt = 12.5;
        t.Alerted = true;
        t.Info = QStringLiteral("run-time");
        TargetTable table;
        table.assign({t, makeTarget(QStringLiteral("second"), 80)});
        GlobalSettings settings;
        settings.Delay = 15;
        settings.Decay = -3;
        settings.Warn = true;
        settings.Error = false;
        settings.Filename = QStringLiteral("/var/log/sentrel.log");
        settings.LogMode = 1;
        settings.LogSep = QStringLiteral("\t|");
        settings.Parallel = 100;
        save(m_path, table, settings);

        const Loaded l = load(m_path);
        QCOMPARE(l.table.size(), int16_t(2));
        const Target &r = l.table[0];
        QCOMPARE(r.Hostname, t.Hostname);
        QCOMPARE(r.Port, t.Port);
        QCOMPARE(r.PXPort, t.PXPort);
        QCOMPARE(r.UsePX, t.UsePX);
        QCOMPARE(r.UseM, t.UseM);
        QCOMPARE(r.UseP, t.UseP);
        QCOMPARE(r.UseIPX, t.UseIPX);
        QCOMPARE(r.Load, t.Load);
        QCOMPARE(r.LoadLevel, t.LoadLevel);
        QCOMPARE(r.Slots, t.Slots);
        QCOMPARE(r.MinSlots, t.MinSlots);
        QCOMPARE(r.Desc, t.Desc);
        QCOMPARE(r.User, t.User);
        QCOMPARE(r.Timeout, t.Timeout);
        QCOMPARE(r.TimeOK, t.TimeOK);
        QCOMPARE(r.RTT, t.RTT);
        QCOMPARE(r.Status, TargetStatus::Unknown);
        QCOMPARE(r.SmoothedRtt, -1.0);
        QVERIFY(!r.Alerted && r.Info.isEmpty());
        QCOMPARE(l.table[1].Port, int16_t(80));
        QCOMPARE(l.settings.Delay, int16_t(15));
        QCOMPARE(l.settings.Decay, int16_t(-3));
        QVERIFY(l.settings.Warn && !l.settings.Error);
        QCOMPARE(l.settings.Filename, settings.Filename);
        QCOMPARE(l.settings.LogMode, int16_t(1));
        QCOMPARE(l.settings.LogSep, settings.LogSep);
        QCOMPARE(l.settings.Parallel, int16_t(100));
    }

    void delayIsSpaced()
    {
        GlobalSettings settings;
        settings.Delay = 5;
        save(m_path, TargetTable(), settings);
        QCOMPARE(storedKeys(m_path).value(QStringLiteral("Window/Delay")), QStringLiteral(" 5"));
        const Loaded l = load(m_path);
        QCOMPARE(l.settings.Delay, int16_t(5));
        QCOMPARE(delayCaption(l.settings.Delay), QStringLiteral("Mins:  5"));
        QCOMPARE(delayCaption(1), QStringLiteral("Mins:  1"));
        QCOMPARE(delayCaption(-2), QStringLiteral("Mins: -2"));
    }

    void firstStartDefaults()
    {
        GlobalSettings settings;
        settings.Delay = 9;
        settings.Decay = 9;
        settings.Warn = true;
        settings.Error = false;
        settings.Filename = QStringLiteral("old");
        settings.LogMode = 3;
        settings.LogSep = QStringLiteral(";");
        settings.Parallel = 7;
        TargetTable table = tableOf({QStringLiteral("stale")});
        WindowState window;
        const SettingsStore store(m_path);
        read_registry(store, table, settings, window, defaultLog);
        QCOMPARE(hostsOf(table), QStringList {QStringLiteral("<free>")});
        QCOMPARE(settings.Delay, int16_t(1));
        QCOMPARE(settings.Decay, int16_t(5));
        QVERIFY(!settings.Warn && settings.Error);
        QCOMPARE(settings.Filename, defaultLog);
        QCOMPARE(settings.LogMode, int16_t(0));
        QCOMPARE(settings.LogSep, QStringLiteral(","));
        QCOMPARE(settings.Parallel, int16_t(32));
        QVERIFY(window.Enable && !window.LoggingEnabled && !window.Details);
        QCOMPARE(window.Col2, 7500);
        QCOMPARE(window.Split, 0.0);
        QCOMPARE(window.Width, 4665.0);
        QCOMPARE(window.Height, 1800.0);
    }

    void missingWindowKeysKeepCurrentValues()
    {
        WindowState current;
        current.Width = 6000;
        current.Height = 4000;
        current.GHeight = 2000;
        current.DHeight = 1000;
        current.DTop = 2500;
        current.Left = 100;
        current.Top = 200;
        current.Split = 999;
        current.Col0 = 1111;
        current.Col1 = 2222;
        current.Col2 = 3333;
        current.Details = true;
        current.Enable = false;
        current.LoggingEnabled = true;
        const WindowState w = load(m_path, current).window;
        QCOMPARE(w.Width, 6000.0);
        QCOMPARE(w.Height, 4000.0);
        QCOMPARE(w.GHeight, 2000.0);
        QCOMPARE(w.DHeight, 1000.0);
        QCOMPARE(w.DTop, 2500.0);
        QCOMPARE(w.Left, 100.0);
        QCOMPARE(w.Top, 200.0);
        QCOMPARE(w.Col0, 1111);
        QCOMPARE(w.Col1, 2222);
        // These keys have fixed defaults, not the window's current values.
        QCOMPARE(w.Split, 0.0);
        QCOMPARE(w.Col2, 7500);
        QVERIFY(!w.Details && w.Enable && !w.LoggingEnabled);
    }

    void windowRoundTripKeepsFractions()
    {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        WindowState window;
        window.Width = 6000.5;
        window.Height = 4000;
        window.GHeight = 2000.25;
        window.DHeight = 1000;
        window.DTop = 2500;
        window.Left = 10.5;
        window.Top = 20;
        window.Split = 1999;
        window.Col0 = 1;
        window.Col1 = 2;
        window.Col2 = 3;
        window.Details = true;
        window.Enable = false;
        window.LoggingEnabled = true;
        save(m_path, TargetTable(), GlobalSettings(), window);
        const QString stored = storedKeys(m_path).value(QStringLiteral("Window/Width"));
        const WindowState w = load(m_path).window;
        QLocale::setDefault(previous);
        QCOMPARE(stored, QStringLiteral("6000,5"));
        QCOMPARE(w.Width, 6000.5);
        QCOMPARE(w.GHeight, 2000.25);
        QCOMPARE(w.Left, 10.5);
        QCOMPARE(w.Split, 1999.0);
        QCOMPARE(w.Col2, 3);
        QVERIFY(w.Details && !w.Enable && w.LoggingEnabled);
    }

    void windowLimits_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("left negative") << QStringLiteral("Left") << QStringLiteral("-300") << 0.0;
        QTest::newRow("left beyond") << QStringLiteral("Left") << QStringLiteral("9001") << 0.0;
        QTest::newRow("left at limit") << QStringLiteral("Left") << QStringLiteral("9000") << 9000.0;
        QTest::newRow("top negative") << QStringLiteral("Top") << QStringLiteral("-1") << 0.0;
        QTest::newRow("top beyond") << QStringLiteral("Top") << QStringLiteral("9000.5") << 0.0;
        QTest::newRow("top inside") << QStringLiteral("Top") << QStringLiteral("4500") << 4500.0;
        QTest::newRow("narrow") << QStringLiteral("Width") << QStringLiteral("1000") << 4665.0;
        QTest::newRow("wide") << QStringLiteral("Width") << QStringLiteral("5000") << 5000.0;
        QTest::newRow("low") << QStringLiteral("Height") << QStringLiteral("900") << 1800.0;
        QTest::newRow("high enough") << QStringLiteral("Height") << QStringLiteral("1800") << 1800.0;
    }
    void windowLimits()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(double, expected);
        writeRaw(m_path, {{QStringLiteral("Window/") + key, text}});
        WindowState current;
        current.Width = 7000;
        current.Height = 5000;
        current.Left = 50;
        current.Top = 60;
        const WindowState w = load(m_path, current).window;
        const QHash<QString, double> got = {{QStringLiteral("Left"), w.Left}, {QStringLiteral("Top"), w.Top},
            {QStringLiteral("Width"), w.Width}, {QStringLiteral("Height"), w.Height}};
        QCOMPARE(got.value(key), expected);
    }

    void currentWindowValuesArePulledIntoLimits()
    {
        WindowState current;
        current.Left = 9500;
        current.Top = -10;
        current.Width = 10;
        current.Height = 10;
        const WindowState w = load(m_path, current).window;
        QCOMPARE(w.Left, 0.0);
        QCOMPARE(w.Top, 0.0);
        QCOMPARE(w.Width, 4665.0);
        QCOMPARE(w.Height, 1800.0);
    }

    void namesMatchWithoutCase()
    {
        writeRaw(m_path,
            {{QStringLiteral("targets/maxhostno"), QStringLiteral("0")},
                {QStringLiteral("targets/HOSTNAME 0"), QStringLiteral("h")},
                {QStringLiteral("targets/Loadlevel 0"), QStringLiteral("55")},
                {QStringLiteral("window/delay"), QStringLiteral(" 7")},
                {QStringLiteral("POPUP/warn"), QStringLiteral("True")}});
        Loaded l = load(m_path);
        QCOMPARE(l.table[0].Hostname, QStringLiteral("h"));
        QCOMPARE(l.table[0].LoadLevel, 55);
        QCOMPARE(l.settings.Delay, int16_t(7));
        QVERIFY(l.settings.Warn);

        l.table[0].LoadLevel = 66;
        save(m_path, l.table, l.settings, l.window);
        const QMap<QString, QString> raw = storedKeys(m_path);
        const QStringList keys = raw.keys();
        QSet<QString> folded;
        for (const QString &k : keys)
            folded.insert(k.toCaseFolded());
        QCOMPARE(folded.size(), keys.size());
        QCOMPARE(raw.value(QStringLiteral("targets/Loadlevel 0")), QStringLiteral("66"));
        QCOMPARE(load(m_path).table[0].LoadLevel, 66);
    }

    void unreadableValuesGiveDefaults_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("expected");
        auto row = [](const char *tag, const char *key, const char *text, const char *field, QVariant v) {
            QTest::newRow(tag) << QString::fromLatin1(key) << QString::fromLatin1(text)
                               << QString::fromLatin1(field) << v;
        };
        row("port beyond 16 bits", "Targets/Port 0", "70000", "Port", 13);
        row("port letters", "Targets/Port 0", "abc", "Port", 13);
        row("port trailing letters", "Targets/Port 0", "25x", "Port", 13);
        row("pxport below", "Targets/PXPort 0", "-40000", "PXPort", 3000);
        row("usepx yes", "Targets/UsePX 0", "yes", "UsePX", true);
        row("usep one", "Targets/UseP 0", "1", "UseP", false);
        row("slots empty", "Targets/Slots 0", "", "Slots", true);
        row("loadlevel beyond 32 bits", "Targets/LoadLevel 0", "99999999999", "LoadLevel", 100);
        row("loadlevel largest", "Targets/LoadLevel 0", "2147483647", "LoadLevel", 2147483647);
        row("minslots letters", "Targets/MinSlots 0", "x", "MinSlots", 2);
        row("timeout exponent", "Targets/Timeout 0", "1e3", "Timeout", 60);
        row("timeok maybe", "Targets/TimeOK 0", "maybe", "TimeOK", false);
        row("rtt below", "Targets/RTT 0", "-32769", "RTT", 0);
        row("delay beyond", "Window/Delay", "70000", "Delay", 1);
        row("delay letters", "Window/Delay", "abc", "Delay", 1);
        row("decay letters", "Window/Decay", "x", "Decay", 5);
        row("logmode beyond", "Logging/LogMode", "99999", "LogMode", 0);
        row("warn abbreviated", "PopUp/Warn", "T", "Warn", false);
        row("error abbreviated", "PopUp/Error", "F", "Error", true);
        row("parallel zero", "Window/Parallel", "0", "Parallel", 32);
        row("parallel 257", "Window/Parallel", "257", "Parallel", 32);
        row("parallel 256", "Window/Parallel", "256", "Parallel", 256);
        row("parallel 1", "Window/Parallel", "1", "Parallel", 1);
        row("col2 fraction", "Window/Col2", "12.5", "Col2", 7500);
        row("details yes", "Window/Details", "yes", "Details", false);
        row("enable no", "Window/Enable", "no", "Enable", true);
        row("logging enable x", "Logging/Enable", "x", "LoggingEnabled", false);
        row("width letters", "Window/Width", "wide", "Width", 6000.0);
    }
    void unreadableValuesGiveDefaults()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        writeRaw(m_path,
            {{QStringLiteral("Targets/MaxHostNo"), QStringLiteral("0")},
                {QStringLiteral("Targets/Hostname 0"), QStringLiteral("h")}, {key, text}});
        WindowState current;
        current.Width = 6000;
        const QVariant got = fieldOf(load(m_path, current), field);
        QCOMPARE(got, expected);
    }

    void unwritableStoreReportsFailure()
    {
        SettingsStore store(QStringLiteral("/proc/sentrel-no-such-dir/Sentrel.ini"));
        QVERIFY(!save_registry(store, tableOf({QStringLiteral("a")}), GlobalSettings(), WindowState()));
    }
};

QTEST_GUILESS_MAIN(TstRegistry)
#include "tst_registry.moc"
