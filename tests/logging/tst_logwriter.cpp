#include "logging/LogWriter.h"

#include "ScriptedPrompts.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <optional>

using namespace sentrel;
using namespace sentrel::test;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QDateTime CycleEnd(QDate(1999, 12, 11), QTime(10, 15, 2));

Target logged(const char *desc, int16_t status, const char *info, QTime checked)
{
    Target t;
    t.Desc = QString::fromUtf8(desc);
    t.Status = status;
    t.Info = QString::fromUtf8(info);
    t.LastCheck = QDateTime(QDate(1999, 12, 11), checked);
    return t;
}

enum Tables { MailAndRouter, OnlyFree, MixedWithFree, SeparatorsInFields, ControlsInFields };

TargetTable tableOf(int kind)
{
    const Target mail = logged("Mail", 1, "220 mail ready", QTime(10, 14, 58));
    const Target gone = logged("Gone", TargetStatus::Free, "x", QTime(10, 0, 0));
    TargetTable table;
    if (kind == MailAndRouter)
        table.assign({mail, logged("Router", 3, "No response from host to ICMP PING", QTime(10, 15, 1))});
    else if (kind == OnlyFree)
        table.assign({gone, gone});
    else if (kind == MixedWithFree)
        table.assign({gone, mail, gone, logged("Local", 0, "New entry", QTime(10, 15, 0)), gone});
    else if (kind == ControlsInFields)
        table.assign({logged("Evil\x1b]0;x\x07", 2, "\x1b[31mred\u009b\x7f", QTime(9, 5, 7))});
    else
        table.assign({logged("Mail, main", 2, "slow, \"busy\"\tqueue", QTime(9, 5, 7)),
            logged("Z\u00fcrich", 1, "gr\u00fcezi", QTime(9, 5, 8))});
    return table;
}

} // namespace

class TstLogWriter : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    GlobalSettings m_settings;
    std::optional<ScriptedPrompts> m_prompts;

    // Logs the Targets "Mail" (OK) and "Router" (DOWN) at the end of a cycle.
    LogResult logCycle(int mode)
    {
        m_settings.LogMode = static_cast<int16_t>(mode);
        return logentry(tableOf(MailAndRouter), m_settings, true, *m_prompts, CycleEnd, English);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_settings = GlobalSettings();
        m_settings.Filename = m_dir.filePath(QStringLiteral("sentrel.log"));
        QFile::remove(m_settings.Filename);
        m_prompts.emplace();
    }

    void layouts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("table");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("sep");
        QTest::addColumn<QByteArray>("expected");
        struct Case
        {
            const char *tag;
            int table;
            int mode;
            const char *sep;
            const char *expected;
            const char *locale = "en_US";
        };
        const Case cases[] = {{"per cycle", MailAndRouter, 1, ",", "12/11/99,10:15:02 AM, 1, 3\r\n"},
            {"empty sep", MailAndRouter, 1, "", "12/11/99,10:15:02 AM, 1, 3\r\n"},
            {"tab", MailAndRouter, 0, "\t",
                "12/11/99\t10:14:58 AM\tMail\t 1\t220 mail ready\r\n"
                "12/11/99\t10:15:01 AM\tRouter\t 3\tNo response from host to ICMP PING\r\n"},
            // A 24-hour locale whose long time format names the time zone: the zone is left out.
            {"british", MailAndRouter, 1, ",", "11/12/1999,10:15:02, 1, 3\r\n", "en_GB"},
            {"other mode", MailAndRouter, 2, ",", ""},
            // Free slots are never logged; the file is created even for an empty entry.
            {"only free, per cycle", OnlyFree, 1, ",", "12/11/99,10:15:02 AM\r\n"},
            {"mixed, per cycle", MixedWithFree, 1, ",", "12/11/99,10:15:02 AM, 1, 0\r\n"},
            {"mixed, per target", MixedWithFree, 0, ",",
                "12/11/99,10:14:58 AM,Mail, 1,220 mail ready\r\n12/11/99,10:15:00 AM,Local, 0,New entry\r\n"},
            {"separators in fields", SeparatorsInFields, 0, ",",
                "12/11/99,9:05:07 AM,Mail, main, 2,slow, \"busy\"\tqueue\r\n"
                "12/11/99,9:05:08 AM,Z\u00fcrich, 1,gr\u00fcezi\r\n"},
            // What a terminal would act on (cat, tail -f) is replaced; the layout stays.
            {"controls in fields", ControlsInFields, 0, ",",
                "12/11/99,9:05:07 AM,Evil\ufffd]0;x\ufffd, 2,\ufffd[31mred\ufffd\ufffd\r\n"}};
        for (const Case &c : cases)
            QTest::newRow(c.tag) << QString::fromLatin1(c.locale) << c.table << c.mode
                                 << QString::fromLatin1(c.sep) << QByteArray(c.expected);
    }
    void layouts()
    {
        QFETCH(QString, locale);
        QFETCH(int, table);
        QFETCH(int, mode);
        QFETCH(QString, sep);
        QFETCH(QByteArray, expected);
        m_settings.LogMode = static_cast<int16_t>(mode);
        m_settings.LogSep = sep;
        QCOMPARE(logentry(tableOf(table), m_settings, true, *m_prompts, CycleEnd, QLocale(locale)),
            LogResult::Written);
        QCOMPARE(readAll(m_settings.Filename), expected);
        QCOMPARE(m_prompts->messages.size(), 0);
    }

    void appendsToExistingFileUnlessDisabled()
    {
        QCOMPARE(logentry(tableOf(MailAndRouter), m_settings, false, *m_prompts, CycleEnd, English),
            LogResult::Disabled);
        QVERIFY(!QFile::exists(m_settings.Filename));
        QVERIFY(writeBytes(m_settings.Filename, "earlier entry\r\n"));
        QCOMPARE(logCycle(1), LogResult::Written);
        QCOMPARE(readAll(m_settings.Filename), QByteArray("earlier entry\r\n12/11/99,10:15:02 AM, 1, 3\r\n"));

        // A write that fails part-way is taken back whole, as after a full disk.
        rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        if (old.rlim_max != RLIM_INFINITY && old.rlim_max < 100)
            QSKIP("the hard file-size limit is too small for this test");
        const QByteArray before = readAll(m_settings.Filename);
        QCOMPARE(withFileSizeLimit(100, [&] { return logCycle(0); }), LogResult::WriteFailed);
        QCOMPARE(readAll(m_settings.Filename), before);
        QCOMPARE(m_prompts->messages.size(), 0);
    }

    void missingFolderIsReportedEveryTime()
    {
        const QString folder = m_dir.filePath(QStringLiteral("not-there"));
        m_settings.Filename = folder + QStringLiteral("/sentrel.log");
        const QString expected =
            QStringLiteral("Unable to write to log file:\r") + QString::fromLocal8Bit(std::strerror(ENOENT));
        for (int cycle = 1; cycle <= 2; ++cycle) {
            QCOMPARE(logCycle(1), LogResult::OpenFailed);
            QCOMPARE(m_prompts->messages.size(), cycle);
            const auto &m = m_prompts->messages.last();
            QCOMPARE(std::tuple(m.text, m.title, m.buttons, m.icon),
                std::tuple(
                    expected, QStringLiteral("Sentrel"), UserPrompts::Buttons::Ok, UserPrompts::Icon::None));
            QVERIFY(!QFile::exists(m_settings.Filename));
        }
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(logCycle(1), LogResult::Written);
        QCOMPARE(readAll(m_settings.Filename), QByteArray("12/11/99,10:15:02 AM, 1, 3\r\n"));
        QCOMPARE(m_prompts->messages.size(), 2);
    }

    void everyLocaleKeepsSecondsAndDropsZone()
    {
        const QTime time(13, 4, 5);
        const auto locales =
            QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        QVERIFY(!locales.isEmpty());
        for (const QLocale &locale : locales) {
            const QString format = longTimeFormat(locale);
            QVERIFY2(
                format.contains(QLatin1Char('s')), qPrintable(locale.name() + QLatin1Char(' ') + format));
            // The text must not depend on the zone: the same time formats alike in UTC and at an offset.
            const QString utc = locale.toString(QDateTime(QDate(2001, 2, 3), time, Qt::UTC), format);
            const QString east =
                locale.toString(QDateTime(QDate(2001, 2, 3), time, Qt::OffsetFromUTC, 5 * 3600), format);
            QVERIFY2(utc == east,
                qPrintable(locale.name() + QLatin1Char(' ') + utc + QLatin1String(" / ") + east));
            QCOMPARE(logLongTime(time, locale), locale.toString(time, format));
        }
    }
};

SENTREL_TEST_GUILESS_MAIN(TstLogWriter)
#include "tst_logwriter.moc"
