#include "TestFiles.h"
#include "engine/NumberText.h"
#include "settings/SettingsStore.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace sentrel;
using namespace sentrel::test;
using namespace Qt::StringLiterals;

class TstSettingsStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Texts and names come back as saved, also after reopening, in QSettings' own format.
    void textsSurviveReopen_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        // Blanks, QSettings' own escapes, line ends, non-Latin-1 and NUL. Quotes, INI syntax and other
        // control characters are in the settingsstore fuzz target's corpus, which reads them back.
        const QString texts[] = {QStringLiteral(" 5"), QString(), QStringLiteral("@Variant(x)"),
            QStringLiteral("C:\\Sentrel\\sentrel.log"), QStringLiteral("one\r\ntwo"),
            QString::fromUtf8("\u00e9t\u00e9 \u4e2d \xf0\x9f\x98\x80"),
            QString(QChar(0)) + QStringLiteral("7")};
        for (const QString &text : texts) {
            QString shown; // escaped, so control characters do not break the test log
            QDebug(&shown) << text;
            QTest::newRow(qPrintable(shown)) << QStringLiteral("Targets") << QStringLiteral("Desc 0") << text;
        }
        const QString names[][2] = {{QStringLiteral("Window"), QStringLiteral("a/b")},
            {QStringLiteral("Fen\u00eatre"), QStringLiteral("\u4e2d 1")},
            {QStringLiteral("General"), QStringLiteral("Key")}};
        for (const auto &[section, key] : names)
            QTest::addRow("name %s/%s", qPrintable(section), qPrintable(key))
                << section << key << QStringLiteral("v");
    }
    void textsSurviveReopen()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        {
            SettingsStore store(path);
            store.save(section, key, text);
            QVERIFY(store.sync());
        }
        const SettingsStore reopened(path);
        QCOMPARE(reopened.keys(), QStringList {section + u'/' + key});
        QCOMPARE(reopened.get(section, key, QStringLiteral("missing")), text);
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.allKeys(), QStringList {section + u'/' + key});
        QCOMPARE(raw.value(section + u'/' + key).toString(), text);
    }

    // A full disk (simulated by a file size limit) leaves the previous file intact, whether the
    // new one fits the write buffer or not.
    void failedWriteKeepsPreviousFile()
    {
        for (const int keys : {40, 2000}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("s.ini"));
            SettingsStore store(path);
            store.save(QStringLiteral("Window"), QStringLiteral("Delay"), QStringLiteral(" 5"));
            QVERIFY(store.sync());
            const QByteArray before = readAll(path);
            for (int i = 0; i < keys; ++i)
                store.save(
                    QStringLiteral("Targets"), QStringLiteral("Hostname %1").arg(i), QString(20, u'h'));

            QVERIFY(!withFileSizeLimit(200, [&] { return store.sync(); }));
            QCOMPARE(readAll(path), before);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                QStringList {QStringLiteral("s.ini")});
            // The saves stay pending and reach the file once it can be written.
            QVERIFY(store.sync());
            QCOMPARE(SettingsStore(path).keys().size(), keys + 1);
        }
    }

    void namesMatchWithoutCase()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        QVERIFY(writeBytes(path, "[targets]\nLoadlevel 0=55\n[WINDOW]\ndelay=\" 7\"\n"));
        {
            SettingsStore store(path);
            QCOMPARE(store.get(QStringLiteral("Targets"), QStringLiteral("LoadLevel 0"), QString()),
                QStringLiteral("55"));
            QCOMPARE(store.get(QStringLiteral("Window"), QStringLiteral("Delay"), QString()),
                QStringLiteral(" 7"));
            // Saving over another spelling updates that key, also one created in this session.
            store.save(QStringLiteral("Targets"), QStringLiteral("LoadLevel 0"), QStringLiteral("77"));
            store.save(QStringLiteral("Targets"), QStringLiteral("Port 0"), QStringLiteral("1"));
            store.save(QStringLiteral("TARGETS"), QStringLiteral("port 0"), QStringLiteral("2"));
            QVERIFY(store.sync());
        }
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.allKeys().size(), 3);
        QCOMPARE(raw.value(QStringLiteral("targets/Loadlevel 0")).toString(), QStringLiteral("77"));
        QCOMPARE(raw.value(QStringLiteral("Targets/Port 0")).toString(), QStringLiteral("2"));
    }

    // A byte that is not UTF-8 (an older file, a hand edit) is read as Windows-1252 and
    // written back as that character, never as U+FFFD; UTF-8 lines beside it stay UTF-8.
    void nonUtf8BytesReadAsWindows1252_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("desc0");
        QTest::addColumn<QString>("desc1");
        QTest::newRow("older file") << QByteArray("[Targets]\nDesc 0=Caf\xe9\nDesc 1=\x80 5\n")
                                    << u"Caf\u00e9"_s << u"\u20ac 5"_s;
        QTest::newRow("hand edit in a UTF-8 file")
            << QByteArray("[Targets]\nDesc 0=Caf\xe9\nDesc 1=na\xc3\xafve\n") << u"Caf\u00e9"_s
            << u"na\u00efve"_s;
    }
    void nonUtf8BytesReadAsWindows1252()
    {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        QVERIFY(writeBytes(path, file));
        {
            SettingsStore store(path);
            store.save(QStringLiteral("Window"), QStringLiteral("Delay"), QStringLiteral(" 5"));
            QVERIFY(store.sync());
        }
        const QByteArray saved = readAll(path);
        QVERIFY2(!saved.contains("\xef\xbf\xbd"), saved.constData());
        SettingsStore reread(path);
        QTEST(reread.get(QStringLiteral("Targets"), QStringLiteral("Desc 0"), QString()), "desc0");
        QTEST(reread.get(QStringLiteral("Targets"), QStringLiteral("Desc 1"), QString()), "desc1");
    }

    // A FIFO, a device or a huge file is refused at once, without a wait or a read to the
    // end, and never replaced by a save.
    void specialFilesAreRefusedAndKept_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("FIFO") << u"fifo"_s << u"not a regular file"_s;
        QTest::newRow("/dev/zero") << u"/dev/zero"_s << u"not a regular file"_s;
        QTest::newRow("over 64 MiB") << u"huge"_s << u"larger than 64 MiB"_s;
    }
    void specialFilesAreRefusedAndKept()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(kind);
        if (kind == u"fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == u"huge") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(64 * 1024 * 1024 + 1)); // sparse
        } else {
            path = kind;
        }
        SettingsStore store(path);
        QTEST(store.readError(), "error");
        QVERIFY(store.keys().isEmpty());
        store.save(QStringLiteral("Window"), QStringLiteral("Delay"), QStringLiteral(" 5"));
        QVERIFY(!store.sync());
        QFileInfo info(path);
        QVERIFY(kind != u"fifo" || !info.isFile());
        QVERIFY(kind != u"huge" || info.size() == 64 * 1024 * 1024 + 1);
    }

    // The texts the stored values are read from. kind: an integer range "min..max", "bool" or
    // "length" in a locale. Leading numbers and their rounding are tst_fieldtext's.
    void valueTexts_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("expected"); // invalid: refused
        struct Case
        {
            const char *kind;
            const char *text;
            QVariant expected;
        };
        const QVariant no;
        const char i16[] = "-32768..32767";
        const char i32[] = "-2147483648..2147483647";
        // Rows tst_registry reads through whole files are not repeated here.
        const Case cases[] = {{i16, " 5", qint64(5)}, {i16, "32767", qint64(32767)}, {i16, "32768", no},
            {i16, "12abc", no}, {i16, "", no}, {i32, "2147483648", no}, {"bool", " FALSE ", false},
            {"bool", "", no}, {"length de_DE", "4665.5", 4665.5}, {"length de_DE", "1,2,3", no},
            {"length C", "4665,5", no}, {"length C", "1e3", no}, {"length C", "", no},
            {"length C", "99999999999", no}};
        for (const Case &c : cases)
            QTest::addRow("%s \"%s\"", c.kind, c.text)
                << QString::fromLatin1(c.kind) << QString::fromLatin1(c.text) << c.expected;
    }
    void valueTexts()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QVariant, expected);
        QVariant got;
        if (kind == QLatin1String("bool")) {
            const std::optional<bool> value = parseBool(text);
            if (value) {
                got = *value;
                QCOMPARE(parseBool(boolText(*value)), value);
            }
        } else if (kind.startsWith(QLatin1String("length"))) {
            const QLocale locale(kind.section(u' ', 1));
            const std::optional<double> value = parseLength(text, locale);
            if (value) {
                got = *value;
                QCOMPARE(parseLength(lengthText(*value, locale), locale), value);
            }
        } else {
            const std::optional<qint64> value =
                sentrel::parseInteger(text, kind.section(QLatin1String(".."), 0, 0).toLongLong(),
                    kind.section(QLatin1String(".."), 1).toLongLong());
            if (value)
                got = *value;
        }
        QCOMPARE(got, expected);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstSettingsStore)
#include "tst_settingsstore.moc"
