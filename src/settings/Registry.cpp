#include "settings/Registry.h"

#include "engine/NumberText.h"
#include "probes/ProbeTypes.h"
#include "settings/SettingsStore.h"

#include <limits>
#include <vector>

namespace sentrel {

namespace {

const QString targetsSection = QStringLiteral("Targets");
const QString windowSection = QStringLiteral("Window");
const QString loggingSection = QStringLiteral("Logging");
const QString popUpSection = QStringLiteral("PopUp");

const int16_t defaultParallel = GlobalSettings {}.Parallel;
constexpr int16_t maxParallel = 256;

QString targetKey(const char16_t *field, int index)
{
    return QString::fromUtf16(field) + spaced(index);
}

// Reads an integer key of type T; a missing key, or a text that is no number of
// T's range, gives fallback.
template<typename T>
T readInteger(const SettingsStore &store, const QString &section, const QString &key, T fallback,
    qint64 min = std::numeric_limits<T>::min(), qint64 max = std::numeric_limits<T>::max())
{
    const std::optional<qint64> value = parseInteger(store.get(section, key, QString()), min, max);
    return value ? static_cast<T>(*value) : fallback;
}

// A port is kept in a signed 16-bit field. The store holds it as the user sees it
// (45678); negative texts, which earlier saves wrote, still name the same 16 bits.
int16_t readPort(const SettingsStore &store, const QString &key, int16_t fallback)
{
    return parsePort(store.get(targetsSection, key, QString())).value_or(fallback);
}

bool readBool(const SettingsStore &store, const QString &section, const QString &key, bool fallback)
{
    return parseBool(store.get(section, key, QString())).value_or(fallback);
}

double readLength(const SettingsStore &store, const QString &key, double current)
{
    return parseLength(store.get(windowSection, key, QString())).value_or(current);
}

Target readTarget(const SettingsStore &store, int j, const QString &hostname)
{
    Target t;
    t.Hostname = hostname;
    t.Port = readPort(store, targetKey(u"Port", j), 13);
    t.PXPort = readPort(store, targetKey(u"PXPort", j), 3000);
    t.UsePX = readBool(store, targetsSection, targetKey(u"UsePX", j), true);
    t.UseM = readBool(store, targetsSection, targetKey(u"UseM", j), true);
    t.UseP = readBool(store, targetsSection, targetKey(u"UseP", j), false);
    t.UseIPX = readBool(store, targetsSection, targetKey(u"UseIPX", j), false);
    t.Load = readBool(store, targetsSection, targetKey(u"Load", j), false);
    t.LoadLevel = readInteger<int32_t>(store, targetsSection, targetKey(u"LoadLevel", j), 100);
    t.Slots = readBool(store, targetsSection, targetKey(u"Slots", j), true);
    t.MinSlots = readInteger<int16_t>(store, targetsSection, targetKey(u"MinSlots", j), 2);
    t.Desc = store.get(targetsSection, targetKey(u"Desc", j), hostname);
    t.User = store.get(targetsSection, targetKey(u"User", j), QString());
    t.Timeout = readInteger<int16_t>(store, targetsSection, targetKey(u"Timeout", j), 60);
    t.TimeOK = readBool(store, targetsSection, targetKey(u"TimeOK", j), false);
    t.RTT = readInteger<int16_t>(store, targetsSection, targetKey(u"RTT", j), 0);
    t.Uid = store.get(targetsSection, targetKey(u"Uid", j), QString());
    t.Status = TargetStatus::Unknown;
    t.SmoothedRtt = -1.0;
    return t;
}

void readTargets(const SettingsStore &store, TargetTable &table)
{
    const double maxHostNo = roundHalfEven(
        leadingNumber(store.get(targetsSection, QStringLiteral("MaxHostNo"), QStringLiteral("0"))));
    if (maxHostNo < 0) {
        table.reset();
        return;
    }
    // The store may announce any number; only indices that can yield a 16-bit
    // table position are looked at, and the table holds just the Targets found.
    const int lastIndex = TargetTable::MaxSlots - 1;
    const int last = maxHostNo >= lastIndex ? lastIndex : static_cast<int>(maxHostNo);
    std::vector<Target> found;
    for (int j = 0; j <= last; ++j) {
        const QString hostname = store.get(targetsSection, targetKey(u"Hostname", j), QString());
        if (!hostname.isEmpty())
            found.push_back(readTarget(store, j, hostname));
    }
    table.assign(std::move(found));
    // Stores written before Targets had identities get derived ones, the same on every read.
    adoptTargetUids(table, TargetTable {});
}

void writeTarget(SettingsStore &store, const Target &t, int n)
{
    store.save(targetsSection, targetKey(u"Hostname", n), t.Hostname);
    store.save(targetsSection, targetKey(u"Port", n), QString::number(uint16_t(t.Port)));
    store.save(targetsSection, targetKey(u"PXPort", n), QString::number(uint16_t(t.PXPort)));
    store.save(targetsSection, targetKey(u"UsePX", n), boolText(t.UsePX));
    store.save(targetsSection, targetKey(u"UseM", n), boolText(t.UseM));
    store.save(targetsSection, targetKey(u"UseP", n), boolText(t.UseP));
    store.save(targetsSection, targetKey(u"UseIPX", n), boolText(t.UseIPX));
    store.save(targetsSection, targetKey(u"Load", n), boolText(t.Load));
    store.save(targetsSection, targetKey(u"LoadLevel", n), QString::number(t.LoadLevel));
    store.save(targetsSection, targetKey(u"Slots", n), boolText(t.Slots));
    store.save(targetsSection, targetKey(u"MinSlots", n), QString::number(t.MinSlots));
    store.save(targetsSection, targetKey(u"Desc", n), t.Desc);
    store.save(targetsSection, targetKey(u"User", n), t.User);
    store.save(targetsSection, targetKey(u"Timeout", n), QString::number(t.Timeout));
    store.save(targetsSection, targetKey(u"TimeOK", n), boolText(t.TimeOK));
    store.save(targetsSection, targetKey(u"RTT", n), QString::number(t.RTT));
    if (isTargetUid(t.Uid))
        store.save(targetsSection, targetKey(u"Uid", n), t.Uid);
}

} // namespace

void read_registry(const SettingsStore &store, TargetTable &table, GlobalSettings &settings,
    WindowState &window, const QString &defaultLogFile)
{
    readTargets(store, table);

    window.Top = readLength(store, QStringLiteral("Top"), window.Top);
    window.Left = readLength(store, QStringLiteral("Left"), window.Left);
    if (window.Top < 0 || window.Top > WindowLimits::MaxPosition)
        window.Top = 0;
    if (window.Left < 0 || window.Left > WindowLimits::MaxPosition)
        window.Left = 0;

    window.Details = readBool(store, windowSection, QStringLiteral("Details"), false);

    window.Split = readLength(store, QStringLiteral("Split"), 0.0);
    window.GHeight = readLength(store, QStringLiteral("GHeight"), window.GHeight);
    window.DTop = readLength(store, QStringLiteral("DTop"), window.DTop);
    window.DHeight = readLength(store, QStringLiteral("DHeight"), window.DHeight);
    window.Height = readLength(store, QStringLiteral("Height"), window.Height);
    window.Width = readLength(store, QStringLiteral("Width"), window.Width);
    if (window.Width < WindowLimits::MinWidth)
        window.Width = WindowLimits::MinWidth;
    if (window.Height < WindowLimits::MinHeight)
        window.Height = WindowLimits::MinHeight;

    window.Col0 = readInteger<int32_t>(store, windowSection, QStringLiteral("Col0"), window.Col0);
    window.Col1 = readInteger<int32_t>(store, windowSection, QStringLiteral("Col1"), window.Col1);
    window.Col2 = readInteger<int32_t>(store, windowSection, QStringLiteral("Col2"), 7500);

    window.Enable = readBool(store, windowSection, QStringLiteral("Enable"), true);
    window.LoggingEnabled = readBool(store, loggingSection, QStringLiteral("Enable"), false);

    settings.Filename = store.get(loggingSection, QStringLiteral("Filename"), defaultLogFile);
    settings.LogMode = readInteger<int16_t>(store, loggingSection, QStringLiteral("LogMode"), 0);
    settings.LogSep = store.get(loggingSection, QStringLiteral("LogSep"), QStringLiteral(","));
    settings.Warn = readBool(store, popUpSection, QStringLiteral("Warn"), false);
    settings.Error = readBool(store, popUpSection, QStringLiteral("Error"), true);
    settings.Decay = readInteger<int16_t>(store, windowSection, QStringLiteral("Decay"), 5);
    settings.Delay = readInteger<int16_t>(store, windowSection, QStringLiteral("Delay"), 1);
    settings.Parallel = readInteger<int16_t>(
        store, windowSection, QStringLiteral("Parallel"), defaultParallel, 1, maxParallel);
}

bool save_registry(
    SettingsStore &store, const TargetTable &table, const GlobalSettings &settings, const WindowState &window)
{
    int n = 0;
    for (const Target &t : table) {
        if (t.isFree())
            continue;
        writeTarget(store, t, n);
        ++n;
    }
    store.save(targetsSection, QStringLiteral("MaxHostNo"), QString::number(n - 1));

    store.save(windowSection, QStringLiteral("Width"), lengthText(window.Width));
    store.save(windowSection, QStringLiteral("Height"), lengthText(window.Height));
    store.save(windowSection, QStringLiteral("GHeight"), lengthText(window.GHeight));
    store.save(windowSection, QStringLiteral("DHeight"), lengthText(window.DHeight));
    store.save(windowSection, QStringLiteral("DTop"), lengthText(window.DTop));
    store.save(windowSection, QStringLiteral("Left"), lengthText(window.Left));
    store.save(windowSection, QStringLiteral("Top"), lengthText(window.Top));
    store.save(windowSection, QStringLiteral("Split"), lengthText(window.Split));
    store.save(windowSection, QStringLiteral("Details"), boolText(window.Details));
    store.save(windowSection, QStringLiteral("Enable"), boolText(window.Enable));
    store.save(windowSection, QStringLiteral("Delay"), spaced(settings.Delay));
    store.save(windowSection, QStringLiteral("Decay"), spaced(settings.Decay));
    store.save(windowSection, QStringLiteral("Col0"), QString::number(window.Col0));
    store.save(windowSection, QStringLiteral("Col1"), QString::number(window.Col1));
    store.save(windowSection, QStringLiteral("Col2"), QString::number(window.Col2));
    store.save(windowSection, QStringLiteral("Parallel"), QString::number(settings.Parallel));

    store.save(loggingSection, QStringLiteral("Filename"), settings.Filename);
    store.save(loggingSection, QStringLiteral("Enable"), boolText(window.LoggingEnabled));
    store.save(loggingSection, QStringLiteral("LogMode"), QString::number(settings.LogMode));
    store.save(loggingSection, QStringLiteral("LogSep"), settings.LogSep);

    store.save(popUpSection, QStringLiteral("Warn"), boolText(settings.Warn));
    store.save(popUpSection, QStringLiteral("Error"), boolText(settings.Error));

    return store.sync();
}

QString delayCaption(int16_t delay)
{
    return QStringLiteral("Mins: ") + spaced(delay);
}

} // namespace sentrel
