#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>

#include <sys/resource.h>

using namespace sentrel;

namespace {

const char saveLoopArgument[] = "--save-loop";
constexpr int loopKeys = 8000;

QString loopKey(int i)
{
    return QStringLiteral("Key ") + QString::number(i);
}

QString loopValue(qint64 generation)
{
    // Padding makes each write long enough for kills to land in the middle of it.
    return QStringLiteral("g%1 ").arg(generation) + QString(40, u'x');
}

// Child process: saves a complete new state of loopKeys keys over and over until killed.
int runSaveLoop(const QString &path)
{
    SettingsStore store(path);
    const QString first = store.get(QStringLiteral("Loop"), loopKey(0), QStringLiteral("g0"));
    qint64 generation = first.mid(1, first.indexOf(u' ') - 1).toLongLong();
    for (;;) {
        ++generation;
        for (int i = 0; i < loopKeys; ++i)
            store.save(QStringLiteral("Loop"), loopKey(i), loopValue(generation));
        if (!store.sync())
            return 1;
        std::printf("%lld\n", static_cast<long long>(generation));
        std::fflush(stdout);
    }
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TstSettingsStore : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_configHome;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_configHome.isValid());
        // Before the first QSettings of the process, so the user store lands here.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    }

    void userStoreIsSentrelIniInConfigFolder()
    {
        SettingsStore store;
        QCOMPARE(QFileInfo(store.fileName()).absoluteFilePath(),
            QDir(m_configHome.path()).absoluteFilePath(QStringLiteral("Sentrel/Sentrel.ini")));
        store.save(QStringLiteral("Window"), QStringLiteral("Delay"), QStringLiteral(" 5"));
        QVERIFY(store.sync());
        QVERIFY(QFile::exists(store.fileName()));
    }

    void missingKeyGivesDefault()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        QCOMPARE(store.get(QStringLiteral("Targets"), QStringLiteral("Port 0"), QStringLiteral("13")),
            QStringLiteral("13"));
        QCOMPARE(store.get(QStringLiteral("Nowhere"), QStringLiteral("x"), QString()), QString());
    }

    void valueTextsSurviveReopen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("spaced") << QStringLiteral(" 5");
        QTest::newRow("empty") << QString();
        QTest::newRow("boolean") << QStringLiteral("True");
        QTest::newRow("comma") << QStringLiteral("Mail, server");
        QTest::newRow("quotes") << QStringLiteral("say \"hi\"");
        QTest::newRow("ini syntax") << QStringLiteral("a=b;c [d]");
        QTest::newRow("at sign") << QStringLiteral("@Variant(x)");
        QTest::newRow("backslash") << QStringLiteral("C:\\Sentrel\\sentrel.log");
        QTest::newRow("blanks around") << QStringLiteral("  padded\t ");
        QTest::newRow("line break") << QStringLiteral("one\r\ntwo");
        QTest::newRow("unicode") << QStringLiteral("Serveur \u00e9t\u00e9 \u4e2d");
        QTest::newRow("surrogate pair") << QString::fromUtf8("up \xf0\x9f\x98\x80 down");
        QTest::newRow("control then hex digits") << QString::fromLatin1("\x01"
                                                                        "abc\x1f"
                                                                        "9");
        QTest::newRow("nul") << QString(QChar(0)) + QStringLiteral("7");
        QTest::newRow("escape lookalike") << QStringLiteral("\\x41\\n");
        QTest::newRow("double at") << QStringLiteral("@@");
        QTest::newRow("byte array lookalike") << QStringLiteral("@ByteArray(x)");
    }
    void valueTextsSurviveReopen()
    {
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        {
            SettingsStore store(path);
            store.save(QStringLiteral("Targets"), QStringLiteral("Desc 0"), text);
            QVERIFY(store.sync());
        }
        SettingsStore reopened(path);
        QCOMPARE(reopened.get(QStringLiteral("Targets"), QStringLiteral("Desc 0"), QStringLiteral("missing")),
            text);
        // The file is QSettings' own format.
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.allKeys(), QStringList {QStringLiteral("Targets/Desc 0")});
        QCOMPARE(raw.value(QStringLiteral("Targets/Desc 0")).toString(), text);
    }

    void namesSurviveInQSettingsFormat_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("blank and digits") << QStringLiteral("Targets") << QStringLiteral("Hostname 12");
        QTest::newRow("ini syntax") << QStringLiteral("Odd [section]") << QStringLiteral("k=e;y,%");
        QTest::newRow("slash") << QStringLiteral("Window") << QStringLiteral("a/b");
        QTest::newRow("unicode") << QStringLiteral("Fen\u00eatre") << QStringLiteral("\u4e2d 1");
        QTest::newRow("general") << QStringLiteral("General") << QStringLiteral("Key");
    }
    void namesSurviveInQSettingsFormat()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        {
            SettingsStore store(path);
            store.save(section, key, QStringLiteral("v"));
        }
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.allKeys(), QStringList {section + u'/' + key});
        const SettingsStore reopened(path);
        QCOMPARE(reopened.keys(), QStringList {section + u'/' + key});
        QCOMPARE(reopened.get(section, key, QString()), QStringLiteral("v"));
    }

    // A full disk (simulated by a file size limit) leaves the previous file intact.
    void failedWriteKeepsPreviousFile_data()
    {
        QTest::addColumn<int>("keys");
        QTest::newRow("smaller than the write buffer") << 40;
        QTest::newRow("larger than the write buffer") << 2000;
    }
    void failedWriteKeepsPreviousFile()
    {
        QFETCH(int, keys);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        SettingsStore store(path);
        store.save(QStringLiteral("Window"), QStringLiteral("Delay"), QStringLiteral(" 5"));
        QVERIFY(store.sync());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        for (int i = 0; i < keys; ++i)
            store.save(QStringLiteral("Targets"), QStringLiteral("Hostname %1").arg(i), QString(20, u'h'));

        rlimit saved = {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 200;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool written = store.sync();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!written);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {QStringLiteral("s.ini")});
        // The saves stay pending and reach the file once it can be written.
        QVERIFY(store.sync());
        QCOMPARE(SettingsStore(path).keys().size(), keys + 1);
    }

    void namesMatchWithoutCase()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        writeFile(path, "[targets]\nLoadlevel 0=55\n[WINDOW]\ndelay=\" 7\"\n");
        SettingsStore store(path);
        QCOMPARE(store.get(QStringLiteral("Targets"), QStringLiteral("LoadLevel 0"), QString()),
            QStringLiteral("55"));
        QCOMPARE(
            store.get(QStringLiteral("Window"), QStringLiteral("Delay"), QString()), QStringLiteral(" 7"));
    }

    void savingOverAnotherCaseUpdatesThatKey()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        writeFile(path, "[targets]\nLoadlevel 0=55\n");
        {
            SettingsStore store(path);
            store.save(QStringLiteral("Targets"), QStringLiteral("LoadLevel 0"), QStringLiteral("77"));
            // A key created in this session is also found in another spelling.
            store.save(QStringLiteral("Targets"), QStringLiteral("Port 0"), QStringLiteral("1"));
            store.save(QStringLiteral("TARGETS"), QStringLiteral("port 0"), QStringLiteral("2"));
            QVERIFY(store.sync());
        }
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.allKeys().size(), 2);
        QCOMPARE(raw.value(QStringLiteral("targets/Loadlevel 0")).toString(), QStringLiteral("77"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Port 0")).toString(), QStringLiteral("2"));
    }

    void unwritableFileReportsFailure()
    {
        SettingsStore store(QStringLiteral("/proc/sentrel-no-such-dir/Sentrel.ini"));
        store.save(QStringLiteral("Window"), QStringLiteral("Delay"), QStringLiteral(" 5"));
        QVERIFY(!store.sync());
    }

    void parseInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("min");
        QTest::addColumn<qint64>("max");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("value");
        const qint64 i16min = std::numeric_limits<int16_t>::min();
        const qint64 i16max = std::numeric_limits<int16_t>::max();
        const qint64 i32min = std::numeric_limits<int32_t>::min();
        const qint64 i32max = std::numeric_limits<int32_t>::max();
        QTest::newRow("plain") << QStringLiteral("13") << i16min << i16max << true << qint64(13);
        QTest::newRow("spaced") << QStringLiteral(" 5") << i16min << i16max << true << qint64(5);
        QTest::newRow("negative") << QStringLiteral("-1") << i16min << i16max << true << qint64(-1);
        QTest::newRow("plus") << QStringLiteral("+7") << i16min << i16max << true << qint64(7);
        QTest::newRow("trailing blank") << QStringLiteral("5 ") << i16min << i16max << true << qint64(5);
        QTest::newRow("16-bit low") << QStringLiteral("-32768") << i16min << i16max << true << i16min;
        QTest::newRow("16-bit high") << QStringLiteral("32767") << i16min << i16max << true << i16max;
        QTest::newRow("16-bit over") << QStringLiteral("32768") << i16min << i16max << false << qint64(0);
        QTest::newRow("70000") << QStringLiteral("70000") << i16min << i16max << false << qint64(0);
        QTest::newRow("32-bit") << QStringLiteral("2147483647") << i32min << i32max << true << i32max;
        QTest::newRow("32-bit over") << QStringLiteral("2147483648") << i32min << i32max << false
                                     << qint64(0);
        QTest::newRow("huge") << QStringLiteral("99999999999999999999999") << i32min << i32max << false
                              << qint64(0);
        QTest::newRow("letters") << QStringLiteral("abc") << i16min << i16max << false << qint64(0);
        QTest::newRow("digits then letters")
            << QStringLiteral("12abc") << i16min << i16max << false << qint64(0);
        QTest::newRow("fraction") << QStringLiteral("1.5") << i16min << i16max << false << qint64(0);
        QTest::newRow("empty") << QString() << i16min << i16max << false << qint64(0);
        QTest::newRow("blank") << QStringLiteral(" ") << i16min << i16max << false << qint64(0);
        QTest::newRow("sign only") << QStringLiteral("-") << i16min << i16max << false << qint64(0);
        QTest::newRow("below min") << QStringLiteral("0") << qint64(1) << qint64(256) << false << qint64(0);
    }
    void parseInteger()
    {
        QFETCH(QString, text);
        QFETCH(qint64, min);
        QFETCH(qint64, max);
        QFETCH(bool, valid);
        QFETCH(qint64, value);
        const std::optional<qint64> got = sentrel::parseInteger(text, min, max);
        QCOMPARE(got.has_value(), valid);
        if (valid)
            QCOMPARE(*got, value);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("zero") << QStringLiteral("0") << 0.0;
        QTest::newRow("tie down to even") << QStringLiteral("2.5") << 2.0;
        QTest::newRow("tie up to even") << QStringLiteral("3.5") << 4.0;
        QTest::newRow("below half") << QStringLiteral("2.49") << 2.0;
        QTest::newRow("negative tie") << QStringLiteral("-1.5") << -2.0;
        QTest::newRow("small negative is zero") << QStringLiteral("-0.4") << 0.0;
        QTest::newRow("minus one") << QStringLiteral("-1") << -1.0;
        QTest::newRow("letters") << QStringLiteral("abc") << 0.0;
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("leading part") << QStringLiteral("  7 apples") << 7.0;
        QTest::newRow("fraction then letters") << QStringLiteral("1.5abc") << 2.0;
        QTest::newRow("point first") << QStringLiteral(".5") << 0.0;
        QTest::newRow("exponent") << QStringLiteral("1e9") << 1e9;
        QTest::newRow("bare exponent letter") << QStringLiteral("5e") << 5.0;
        QTest::newRow("hex is not read") << QStringLiteral("0x10") << 0.0;
        QTest::newRow("overflow") << QStringLiteral("1e400") << inf;
        QTest::newRow("negative overflow") << QStringLiteral("-1e400") << -inf;
        QTest::newRow("underflow") << QStringLiteral("1e-400") << 0.0;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(sentrel::leadingNumber(text), value);
    }

    void parseBool_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: not a Boolean
        QTest::newRow("True") << QStringLiteral("True") << 1;
        QTest::newRow("False") << QStringLiteral("False") << 0;
        QTest::newRow("lower case") << QStringLiteral("true") << 1;
        QTest::newRow("blanks") << QStringLiteral(" FALSE ") << 0;
        QTest::newRow("yes") << QStringLiteral("yes") << -1;
        QTest::newRow("one") << QStringLiteral("1") << -1;
        QTest::newRow("minus one") << QStringLiteral("-1") << -1;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("prefix") << QStringLiteral("Tru") << -1;
    }
    void parseBool()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<bool> got = sentrel::parseBool(text);
        QCOMPARE(got.has_value(), expected >= 0);
        if (got)
            QCOMPARE(*got, expected == 1);
        if (got)
            QCOMPARE(sentrel::parseBool(boolText(*got)), got);
    }

    void lengths_data()
    {
        QTest::addColumn<QString>("localeName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("whole") << QStringLiteral("de_DE") << QStringLiteral("4665") << true << 4665.0;
        QTest::newRow("locale separator")
            << QStringLiteral("de_DE") << QStringLiteral("4665,5") << true << 4665.5;
        QTest::newRow("point in comma locale")
            << QStringLiteral("de_DE") << QStringLiteral("4665.5") << true << 4665.5;
        QTest::newRow("point") << QStringLiteral("C") << QStringLiteral("4665.5") << true << 4665.5;
        QTest::newRow("comma in point locale")
            << QStringLiteral("C") << QStringLiteral("4665,5") << false << 0.0;
        QTest::newRow("negative") << QStringLiteral("C") << QStringLiteral("-300") << true << -300.0;
        QTest::newRow("spaced") << QStringLiteral("C") << QStringLiteral(" 900") << true << 900.0;
        QTest::newRow("two separators") << QStringLiteral("de_DE") << QStringLiteral("1,2,3") << false << 0.0;
        QTest::newRow("letters") << QStringLiteral("C") << QStringLiteral("abc") << false << 0.0;
        QTest::newRow("exponent") << QStringLiteral("C") << QStringLiteral("1e3") << false << 0.0;
        QTest::newRow("empty") << QStringLiteral("C") << QString() << false << 0.0;
        QTest::newRow("beyond 32 bits")
            << QStringLiteral("C") << QStringLiteral("99999999999") << false << 0.0;
    }
    void lengths()
    {
        QFETCH(QString, localeName);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        const QLocale locale(localeName);
        const std::optional<double> got = parseLength(text, locale);
        QCOMPARE(got.has_value(), valid);
        if (!valid)
            return;
        QCOMPARE(*got, value);
        QCOMPARE(parseLength(sentrel::lengthText(*got, locale), locale), got);
    }

    void lengthText_data()
    {
        QTest::addColumn<QString>("localeName");
        QTest::addColumn<double>("twips");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << QStringLiteral("de_DE") << 4665.0 << QStringLiteral("4665");
        QTest::newRow("no group separator")
            << QStringLiteral("en_US") << 1234567.0 << QStringLiteral("1234567");
        QTest::newRow("comma locale") << QStringLiteral("de_DE") << 4665.5 << QStringLiteral("4665,5");
        QTest::newRow("point locale") << QStringLiteral("C") << 0.25 << QStringLiteral("0.25");
        QTest::newRow("negative") << QStringLiteral("C") << -300.0 << QStringLiteral("-300");
    }
    void lengthText()
    {
        QFETCH(QString, localeName);
        QFETCH(double, twips);
        QFETCH(QString, text);
        QCOMPARE(sentrel::lengthText(twips, QLocale(localeName)), text);
    }

    // A save killed at any moment leaves the previous or the new complete state.
    void killedSaveLeavesCompleteState()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Sentrel.ini"));
        {
            SettingsStore store(path);
            for (int i = 0; i < loopKeys; ++i)
                store.save(QStringLiteral("Loop"), loopKey(i), loopValue(0));
            QVERIFY(store.sync());
        }
        qint64 lastGeneration = 0;
        int killsAfterProgress = 0;
        for (int round = 0; round < 8; ++round) {
            QProcess child;
            // Whatever a killed child leaves in its temporary folder goes with dir.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TMPDIR"), dir.path());
            child.setProcessEnvironment(env);
            child.start(
                QCoreApplication::applicationFilePath(), {QString::fromLatin1(saveLoopArgument), path});
            QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
            QTest::qWait(40 + QRandomGenerator::global()->bounded(400));
            QCOMPARE(child.state(), QProcess::Running);
            child.kill();
            QVERIFY(child.waitForFinished());
            if (!child.readAllStandardOutput().isEmpty())
                ++killsAfterProgress;

            QSettings raw(path, QSettings::IniFormat);
            QCOMPARE(raw.status(), QSettings::NoError);
            raw.beginGroup(QStringLiteral("Loop"));
            const QStringList keys = raw.childKeys();
            QCOMPARE(keys.size(), loopKeys);
            const QString first = raw.value(loopKey(0)).toString();
            for (const QString &key : keys)
                QCOMPARE(raw.value(key).toString(), first);
            const qint64 generation = first.mid(1, first.indexOf(u' ') - 1).toLongLong();
            QCOMPARE(first, loopValue(generation));
            QVERIFY(generation >= lastGeneration);
            lastGeneration = generation;
        }
        // Otherwise every kill came before the first write and nothing was tried.
        QVERIFY2(killsAfterProgress > 0 && lastGeneration > 0, "the child never completed a save");
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], saveLoopArgument) == 0)
        return runSaveLoop(QFile::decodeName(argv[2]));
    TstSettingsStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsstore.moc"
