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
        QTest::newRow("log chooser") << "Log files (*.log)|*.log|All files|*.*"
                                     << "Log files (*.log);;All files (*)"
                                     << "log";
        QTest::newRow("several patterns") << "Text|*.txt;*.exp"
                                          << "Text (*.txt *.exp)"
                                          << "";
        QTest::newRow("export") << "Export files|*.exp"
                                << "Export files (*.exp)"
                                << "exp";
        QTest::newRow("already Qt") << "Export files (*.exp);;All files (*)"
                                    << "Export files (*.exp);;All files (*)"
                                    << "exp";
        QTest::newRow("any file") << "All files|*.*"
                                  << "All files (*)"
                                  << "";
        QTest::newRow("any file named in the description") << "All files (*.*)|*.*"
                                                           << "All files (*)"
                                                           << "";
        QTest::newRow("dotted pattern kept") << "Backups|*.*.old"
                                             << "Backups (*.*.old)"
                                             << "";
        QTest::newRow("none") << ""
                              << ""
                              << "";
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

QTEST_MAIN(TstQtPrompts)
#include "tst_qtprompts.moc"
