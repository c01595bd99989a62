#include "ui/QtPrompts.h"

#include <QTest>

using namespace sentrel;

class TstQtPrompts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("qt");
        QTest::addColumn<QString>("suffix");
        const char *rows[][4] = {
            {"log chooser", "Log files (*.log)|*.log|All files|*.*", "Log files (*.log);;All files (*)",
                "log"},
            {"several patterns", "Text|*.txt;*.exp", "Text (*.txt *.exp)", ""},
            {"already Qt", "Export files (*.exp);;All files (*)", "Export files (*.exp);;All files (*)",
                "exp"},
            {"any file named in the description", "All files (*.*)|*.*", "All files (*)", ""},
            {"dotted pattern kept", "Backups|*.*.old", "Backups (*.*.old)", ""},
            {"none", "", "", ""},
        };
        for (const auto &r : rows)
            QTest::newRow(r[0]) << QString::fromUtf8(r[1]) << QString::fromUtf8(r[2])
                                << QString::fromUtf8(r[3]);
    }
    void filters()
    {
        QFETCH(QString, filter);
        QFETCH(QString, qt);
        QFETCH(QString, suffix);
        QCOMPARE(qtFileFilter(filter), qt);
        QCOMPARE(defaultSuffixOf(filter), suffix);
    }
};

SENTREL_TEST_MAIN(TstQtPrompts)
#include "tst_qtprompts.moc"
