// The settings store reader: every value the store read is written so that it reads back the
// same, and the settings read from any store, saved and read again, save the same file.
#include "FuzzTarget.h"

#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace sentrel;

namespace {

QString scratchFile(const QString &name)
{
    // Each input writes a few small files; memory-backed storage keeps the fuzzer fast.
    static const QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
            ? QStringLiteral("/dev/shm/sentrel-fuzz-XXXXXX")
            : QDir::temp().filePath(QStringLiteral("sentrel-fuzz-XXXXXX")));
    FUZZ_REQUIRE(dir.isValid());
    const QString path = dir.filePath(name);
    QFile::remove(path);
    return path;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    FUZZ_REQUIRE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// The store as written by save_registry after read_registry.
QByteArray resaved(const SettingsStore &from, const QString &path)
{
    TargetTable table;
    GlobalSettings settings;
    WindowState window;
    read_registry(from, table, settings, window, QStringLiteral("sentrel.log"));
    SettingsStore to(path);
    FUZZ_REQUIRE(save_registry(to, table, settings, window));
    return contents(path);
}

void fuzzSettingsStore(QByteArrayView input)
{
    const QString inputPath = scratchFile(QStringLiteral("input.ini"));
    {
        QFile file(inputPath);
        FUZZ_REQUIRE(
            file.open(QIODevice::WriteOnly) && file.write(input.data(), input.size()) == input.size());
    }
    const SettingsStore read(inputPath);

    // Every text the store read survives a save and a fresh read.
    const QString copyPath = scratchFile(QStringLiteral("copy.ini"));
    {
        SettingsStore copy(copyPath);
        for (const QString &key : read.keys()) {
            const qsizetype slash = key.indexOf(u'/');
            const QString section = slash < 0 ? QString() : key.left(slash);
            const QString name = slash < 0 ? key : key.mid(slash + 1);
            copy.save(section, name, read.get(section, name, QString()));
        }
        FUZZ_REQUIRE(copy.sync());
        const SettingsStore reread(copyPath);
        FUZZ_REQUIRE(reread.keys() == copy.keys());
        for (const QString &key : copy.keys()) {
            const qsizetype slash = key.indexOf(u'/');
            const QString section = slash < 0 ? QString() : key.left(slash);
            const QString name = slash < 0 ? key : key.mid(slash + 1);
            FUZZ_REQUIRE(reread.get(section, name, QStringLiteral("(missing)"))
                == copy.get(section, name, QStringLiteral("(missing)")));
        }
    }

    // Settings read from any store save a file that reads as the same settings.
    const QString firstPath = scratchFile(QStringLiteral("first.ini"));
    const QByteArray first = resaved(read, firstPath);
    const SettingsStore firstStore(firstPath);
    FUZZ_REQUIRE(resaved(firstStore, scratchFile(QStringLiteral("second.ini"))) == first);
}

} // namespace

SENTREL_FUZZ_TARGET(settingsstore, fuzzSettingsStore)
