#include "logging/LogWriter.h"

#include "ScriptedPrompts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QDateTime CycleEnd(QDate(1999, 12, 11), QTime(10, 15, 2));

Target logged(const QString &desc, int16_t status, const QString &info, QTime checked)
{
    Target t;
    t.Desc = desc;
    t.Status = status;
    t.Info = info;
    t.LastCheck = QDateTime(QDate(1999, 12, 11), checked);
    return t;
}

// The two Targets "Mail" (OK) and "Router" (DOWN).
TargetTable mailAndRouter()
{
    TargetTable table;
    table.assign({logged(QStringLiteral("Mail"), 1, QStringLiteral("220 mail ready"), QTime(10, 14, 58)),
        logged(QStringLiteral("Router"), 3, QStringLiteral("No response from host to ICMP PING"),
            QTime(10, 15, 1))});
    return table;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

} // namespace

class TstLogWriter : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_path;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("sentrel.log"));
        QFile::remove(m_path);
    }

    void layouts_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("sep");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("per cycle") << English << 1 << QStringLiteral(",")
                                   << QByteArray("12/11/99,10:15:02 AM, 1, 3\r\n");
        QTest::newRow("per target")
            << English << 0 << QStringLiteral(",")
            << QByteArray("12/11/99,10:14:58 AM,Mail, 1,220 mail ready\r\n"
                          "12/11/99,10:15:01 AM,Router, 3,No response from host to ICMP PING\r\n");
        QTest::newRow("empty sep per cycle")
            << English << 1 << QString() << QByteArray("12/11/99,10:15:02 AM, 1, 3\r\n");
        QTest::newRow("empty sep per target")
            << English << 0 << QString()
            << QByteArray("12/11/99,10:14:58 AM,Mail, 1,220 mail ready\r\n"
                          "12/11/99,10:15:01 AM,Router, 3,No response from host to ICMP PING\r\n");
        QTest::newRow("tab per cycle")
            << English << 1 << QStringLiteral("\t") << QByteArray("12/11/99\t10:15:02 AM\t 1\t 3\r\n");
        QTest::newRow("tab per target")
            << English << 0 << QStringLiteral("\t")
            << QByteArray("12/11/99\t10:14:58 AM\tMail\t 1\t220 mail ready\r\n"
                          "12/11/99\t10:15:01 AM\tRouter\t 3\tNo response from host to ICMP PING\r\n");
        // A 24-hour locale whose long time format names the time zone: the zone is left out.
        QTest::newRow("british") << QLocale(QLocale::English, QLocale::UnitedKingdom) << 1
                                 << QStringLiteral(",") << QByteArray("11/12/1999,10:15:02, 1, 3\r\n");
        QTest::newRow("other mode") << English << 2 << QStringLiteral(",") << QByteArray();
    }
    void layouts()
    {
        QFETCH(QLocale, locale);
        QFETCH(int, mode);
        QFETCH(QString, sep);
        QFETCH(QByteArray, expected);
        GlobalSettings settings;
        settings.Filename = m_path;
        settings.LogMode = static_cast<int16_t>(mode);
        settings.LogSep = sep;
        ScriptedPrompts prompts;
        QCOMPARE(logentry(mailAndRouter(), settings, true, prompts, CycleEnd, locale), LogResult::Written);
        QCOMPARE(readAll(m_path), expected);
        QCOMPARE(prompts.messages.size(), 0);
    }

    void freeSlotsAreNeverLogged_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("withTargets");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("only free, per cycle") << 1 << false << QByteArray("12/11/99,10:15:02 AM\r\n");
        QTest::newRow("only free, per target") << 0 << false << QByteArray();
        QTest::newRow("mixed, per cycle") << 1 << true << QByteArray("12/11/99,10:15:02 AM, 1, 0\r\n");
        QTest::newRow("mixed, per target") << 0 << true
                                           << QByteArray("12/11/99,10:14:58 AM,Mail, 1,220 mail ready\r\n"
                                                         "12/11/99,10:15:00 AM,Local, 0,New entry\r\n");
    }
    void freeSlotsAreNeverLogged()
    {
        QFETCH(int, mode);
        QFETCH(bool, withTargets);
        QFETCH(QByteArray, expected);
        TargetTable table;
        if (withTargets) {
            Target gone = logged(QStringLiteral("Gone"), -1, QStringLiteral("x"), QTime(10, 0, 0));
            table.assign({gone,
                logged(QStringLiteral("Mail"), 1, QStringLiteral("220 mail ready"), QTime(10, 14, 58)), gone,
                logged(QStringLiteral("Local"), 0, QStringLiteral("New entry"), QTime(10, 15, 0)), gone});
        } else {
            QVERIFY(table.growtable());
            table[0].Status = TargetStatus::Free;
            table[1].Status = TargetStatus::Free;
        }
        GlobalSettings settings;
        settings.Filename = m_path;
        settings.LogMode = static_cast<int16_t>(mode);
        ScriptedPrompts prompts;
        QCOMPARE(logentry(table, settings, true, prompts, CycleEnd, English), LogResult::Written);
        // The file is created even when the entry is empty.
        QVERIFY(QFile::exists(m_path));
        QCOMPARE(readAll(m_path), expected);
    }

    void fieldsAreWrittenUnquoted()
    {
        TargetTable table;
        table.assign(
            {logged(QStringLiteral("Mail, main"), 2, QStringLiteral("slow, \"busy\"\tqueue"), QTime(9, 5, 7)),
                logged(QStringLiteral("Zürich"), 1, QStringLiteral("grüezi"), QTime(9, 5, 8))});
        GlobalSettings settings;
        settings.Filename = m_path;
        settings.LogMode = 0;
        ScriptedPrompts prompts;
        QCOMPARE(logentry(table, settings, true, prompts, CycleEnd, English), LogResult::Written);
        QCOMPARE(readAll(m_path),
            QStringLiteral("12/11/99,9:05:07 AM,Mail, main, 2,slow, \"busy\"\tqueue\r\n"
                           "12/11/99,9:05:08 AM,Zürich, 1,grüezi\r\n")
                .toUtf8());
    }

    void appendsToExistingFile()
    {
        {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write("earlier entry\r\n"), qint64(15));
        }
        GlobalSettings settings;
        settings.Filename = m_path;
        settings.LogMode = 1;
        ScriptedPrompts prompts;
        QCOMPARE(logentry(mailAndRouter(), settings, true, prompts, CycleEnd, English), LogResult::Written);
        QCOMPARE(logentry(mailAndRouter(), settings, true, prompts, CycleEnd.addSecs(60), English),
            LogResult::Written);
        QCOMPARE(readAll(m_path),
            QByteArray("earlier entry\r\n"
                       "12/11/99,10:15:02 AM, 1, 3\r\n"
                       "12/11/99,10:16:02 AM, 1, 3\r\n"));
    }

    void disabledWritesNothing()
    {
        GlobalSettings settings;
        settings.Filename = m_path;
        settings.LogMode = 1;
        ScriptedPrompts prompts;
        QCOMPARE(logentry(mailAndRouter(), settings, false, prompts, CycleEnd, English), LogResult::Disabled);
        QVERIFY(!QFile::exists(m_path));
        QCOMPARE(prompts.messages.size(), 0);
    }

    void missingFolderIsReportedEveryTime()
    {
        const QString folder = m_dir.filePath(QStringLiteral("not-there"));
        GlobalSettings settings;
        settings.Filename = folder + QStringLiteral("/sentrel.log");
        settings.LogMode = 1;
        ScriptedPrompts prompts;
        const QString expected =
            QStringLiteral("Unable to write to log file:\r") + QString::fromLocal8Bit(std::strerror(ENOENT));

        for (int cycle = 1; cycle <= 2; ++cycle) {
            QCOMPARE(
                logentry(mailAndRouter(), settings, true, prompts, CycleEnd, English), LogResult::OpenFailed);
            QCOMPARE(prompts.messages.size(), cycle);
            const auto &m = prompts.messages.last();
            QCOMPARE(m.text, expected);
            QCOMPARE(m.title, QStringLiteral("Sentrel"));
            QCOMPARE(m.buttons, UserPrompts::Buttons::Ok);
            QCOMPARE(m.icon, UserPrompts::Icon::None);
            QVERIFY(!QFile::exists(settings.Filename));
        }

        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(logentry(mailAndRouter(), settings, true, prompts, CycleEnd, English), LogResult::Written);
        QCOMPARE(readAll(settings.Filename), QByteArray("12/11/99,10:15:02 AM, 1, 3\r\n"));
        QCOMPARE(prompts.messages.size(), 2);
    }

    void fullDeviceFailsQuietly()
    {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("/dev/full is not available on this machine");
        GlobalSettings settings;
        settings.Filename = QStringLiteral("/dev/full");
        settings.LogMode = 1;
        ScriptedPrompts prompts;
        QCOMPARE(
            logentry(mailAndRouter(), settings, true, prompts, CycleEnd, English), LogResult::WriteFailed);
        QCOMPARE(prompts.messages.size(), 0);
    }

    void partialEntryIsTakenBack()
    {
        {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write("earlier entry\r\n"), qint64(15));
        }
        // A file-size limit a few bytes past the old end lets the kernel take part of the entry and refuse
        // the rest, as a full disk does.
        rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        if (old.rlim_max != RLIM_INFINITY && old.rlim_max < 25)
            QSKIP("the hard file-size limit is too small for this test");
        rlimit tight = old;
        tight.rlim_cur = 25;
        auto *previous = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);

        GlobalSettings settings;
        settings.Filename = m_path;
        settings.LogMode = 0;
        ScriptedPrompts prompts;
        const LogResult result = logentry(mailAndRouter(), settings, true, prompts, CycleEnd, English);

        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(result, LogResult::WriteFailed);
        QCOMPARE(readAll(m_path), QByteArray("earlier entry\r\n"));
        QCOMPARE(prompts.messages.size(), 0);
    }

    void withoutTimeZone_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("trailing") << QStringLiteral("HH:mm:ss t") << QStringLiteral("HH:mm:ss");
        QTest::newRow("long name") << QStringLiteral("HH:mm:ss tttt") << QStringLiteral("HH:mm:ss");
        QTest::newRow("am pm") << QStringLiteral("h:mm:ss AP t") << QStringLiteral("h:mm:ss AP");
        QTest::newRow("comma") << QStringLiteral("h:mm:ss AP, t") << QStringLiteral("h:mm:ss AP");
        QTest::newRow("parentheses") << QStringLiteral("H:mm:ss (t)") << QStringLiteral("H:mm:ss");
        QTest::newRow("brackets") << QStringLiteral("APh:mm:ss [t]") << QStringLiteral("APh:mm:ss");
        QTest::newRow("leading") << QStringLiteral("t HH:mm:ss") << QStringLiteral("HH:mm:ss");
        QTest::newRow("leading am pm") << QStringLiteral("t APh:mm:ss") << QStringLiteral("APh:mm:ss");
        QTest::newRow("quoted t kept")
            << QStringLiteral("H 'h' mm 'min' ss 's' t") << QStringLiteral("H 'h' mm 'min' ss 's'");
        QTest::newRow("quoted literal before")
            << QStringLiteral("'Klock' H.mm:ss (t)") << QStringLiteral("'Klock' H.mm:ss");
        QTest::newRow("quoted t letter")
            << QStringLiteral("'at' HH:mm:ss t") << QStringLiteral("'at' HH:mm:ss");
        QTest::newRow("no zone") << QStringLiteral("HH:mm:ss") << QStringLiteral("HH:mm:ss");
    }
    void withoutTimeZone()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(sentrel::withoutTimeZone(format), expected);
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

QTEST_GUILESS_MAIN(TstLogWriter)
#include "tst_logwriter.moc"
