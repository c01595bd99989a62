#include "engine/StatusGrid.h"

#include "ScriptedPrompts.h"

#include <QSignalSpy>
#include <QTest>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;

namespace {

// A table of used Targets "A", "B", ... (host "A.lan", Info "A info", Output "A output" CR LF)
// with the given statuses (-1 makes a free slot).
TargetTable makeTable(const QList<int> &statuses)
{
    std::vector<Target> slots;
    for (int i = 0; i < statuses.size(); ++i) {
        const QString name(QChar(u'A' + i));
        Target t;
        t.Hostname = name + QStringLiteral(".lan");
        t.Desc = name;
        t.Status = static_cast<int16_t>(statuses[i]);
        t.Info = name + QStringLiteral(" info");
        t.Output = name + QStringLiteral(" output\r\n");
        slots.push_back(t);
    }
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

// The data rows' cells of one column, or one row's cells, joined by "|".
QString column(const TargetGrid &grid, int col)
{
    QStringList out;
    for (int row = 1; row < grid.rowCount(); ++row)
        out << grid.cell(row, col);
    return out.join(QLatin1Char('|'));
}
QString rowCells(const TargetGrid &grid, int row)
{
    return QStringList {grid.cell(row, 0), grid.cell(row, 1), grid.cell(row, 2), grid.cell(row, 3)}.join(
        QLatin1Char('|'));
}

// A grid of Targets "A", "B", "C" (statuses 1, 2, 3) with `row` current.
struct Fixture
{
    TargetTable table = makeTable({1, 2, 3});
    TargetGrid grid {table};
    explicit Fixture(int row = 0)
    {
        grid.load_display();
        grid.setCurrentRow(row);
    }
};

} // namespace

class TstStatusGrid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void statusWordsAndColours_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("word");
        QTest::addColumn<quint32>("text");
        QTest::addColumn<quint32>("background");
        const quint32 windowText = GridColour::WindowText;
        QTest::newRow("unknown") << 0 << QStringLiteral("Unknown") << windowText << quint32(0xFFFFFF);
        QTest::newRow("ok") << 1 << QStringLiteral("OK") << quint32(0x00FF00) << quint32(0xFFFFFF);
        QTest::newRow("warning") << 2 << QStringLiteral("Warning") << windowText << quint32(0xFFFF00);
        QTest::newRow("down") << 3 << QStringLiteral("* DOWN *") << quint32(0xFFFFFF) << quint32(0xFF0000);
        QTest::newRow("other") << 7 << QStringLiteral("Unknown") << windowText << quint32(0xFFFFFF);
    }
    void statusWordsAndColours()
    {
        QFETCH(int, status);
        QFETCH(QString, word);
        QFETCH(quint32, text);
        QFETCH(quint32, background);
        // Through the model, in all three visible cells.
        TargetTable table = makeTable({status});
        TargetGrid grid(table);
        grid.load_display();
        QCOMPARE(grid.model()->index(0, GridColumn::Status).data().toString(), word);
        for (int c = 0; c < 3; ++c) {
            const QModelIndex cell = grid.model()->index(0, c);
            QCOMPARE(cell.data(StatusGridModel::TextColourRole).value<quint32>(), text);
            QCOMPARE(cell.data(StatusGridModel::BackgroundColourRole).value<quint32>(), background);
        }
        QVERIFY(
            !grid.model()->index(0, GridColumn::Index).data(StatusGridModel::BackgroundColourRole).isValid());
    }

    void cellNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("spaced") << QStringLiteral(" 5") << 5;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("trailing text") << QStringLiteral(" 12ab") << 12;
        QTest::newRow("huge") << QStringLiteral("99999999999999999999") << 0;
    }
    void cellNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(TargetGrid::cellNumber(text), number);
    }

    void rebuildShowsUsedSlotsInIndexOrder()
    {
        TargetTable table = makeTable({1, -1, 3, 0, -1});
        TargetGrid grid(table);
        QSignalSpy reset(grid.model(), &QAbstractItemModel::modelReset);
        grid.load_display();
        const StatusGridModel &model = *grid.model();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(rowCells(grid, 0), QStringLiteral("Host|Status|Information|"));
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), grid.cell(0, c));
            for (int row = 1; row < grid.rowCount(); ++row)
                QCOMPARE(model.index(row - 1, c).data().toString(), grid.cell(row, c));
        }
        QCOMPARE(column(grid, GridColumn::Host), QStringLiteral("A|C|D"));
        QCOMPARE(column(grid, GridColumn::Status), QStringLiteral("OK|* DOWN *|Unknown"));
        QCOMPARE(column(grid, GridColumn::Information), QStringLiteral("A info|C info|D info"));
        QCOMPARE(column(grid, GridColumn::Index), QStringLiteral(" 0| 2| 3"));
        QCOMPARE((QList<int> {grid.targetIndexAt(0), grid.targetIndexAt(2), grid.targetIndexAt(4)}),
            (QList<int> {-1, 2, -1}));
        QVERIFY(!model.index(3, 0).data().isValid());
        // Without a row to restore the last row is current, in column 0.
        QCOMPARE(grid.currentRow(), 3);
        QCOMPARE(grid.currentColumn(), 0);
    }

    // A rebuild that takes the selected row away, or every row, leaves the details as they are;
    // the deletion cases below hold a selected row that stays.
    void rebuildWithoutTheSelectedRowKeepsDetails()
    {
        Fixture f(3);
        f.grid.setTxtdata(QStringLiteral("details before"));
        f.table[1].Status = TargetStatus::Free;
        QSignalSpy rowSpy(&f.grid, &TargetGrid::currentRowChanged);
        QSignalSpy textSpy(&f.grid, &TargetGrid::txtdataChanged);
        f.grid.load_display();
        QCOMPARE(f.grid.rowCount(), 3);
        QCOMPARE(f.grid.currentRow(), 2);
        QCOMPARE(f.grid.cell(2, GridColumn::Host), QStringLiteral("C"));
        QCOMPARE(rowSpy.count(), 1);
        QCOMPARE(rowSpy.first().first().toInt(), 2);
        for (int16_t i = 0; i < f.table.size(); ++i)
            f.table[i].Status = TargetStatus::Free;
        f.grid.load_display();
        QCOMPARE(f.grid.rowCount(), 1);
        QCOMPARE(f.grid.model()->rowCount(), 0);
        QCOMPARE(f.grid.currentRow(), 0);
        QCOMPARE(f.grid.txtdata(), QStringLiteral("details before"));
        QCOMPARE(textSpy.count(), 0);
    }

    void doDataFollowsCurrentRow()
    {
        TargetTable table = makeTable({1, -1, 2});
        TargetGrid grid(table);
        grid.load_display();
        QSignalSpy textSpy(&grid, &TargetGrid::txtdataChanged);
        QVERIFY(grid.setCurrentRow(1));
        grid.setCurrentColumn(2);
        grid.do_data();
        QCOMPARE(grid.txtdata(), QStringLiteral("A output\r\n"));
        QCOMPARE(grid.currentColumn(), 0);
        QVERIFY(grid.setCurrentRow(2));
        grid.do_data();
        QCOMPARE(grid.txtdata(), QStringLiteral("C output\r\n"));
        QCOMPARE(textSpy.count(), 2);
        // The header names no Target; the details stay as they are.
        QVERIFY(grid.setCurrentRow(0));
        grid.do_data();
        QCOMPARE(grid.txtdata(), QStringLiteral("C output\r\n"));
        QVERIFY(!grid.setCurrentRow(3) && !grid.setCurrentRow(-1));
        QCOMPARE(grid.currentRow(), 0);
    }

    void cyclePaintingKeepsSelection()
    {
        Fixture f(1);
        QSignalSpy rowSpy(&f.grid, &TargetGrid::currentRowChanged);
        QSignalSpy changed(f.grid.model(), &QAbstractItemModel::dataChanged);
        f.grid.showChecking(3);
        QCOMPARE(f.grid.cell(3, GridColumn::Status), QStringLiteral("Checking"));
        QCOMPARE(f.grid.model()->colours(3), (RowColours {GridColour::WindowText, GridColour::White}));
        f.grid.setInformation(3, QStringLiteral("No response from host"));
        f.grid.showStatus(3, TargetStatus::Ok);
        QCOMPARE(rowCells(f.grid, 3), QStringLiteral("C|OK|No response from host| 2"));
        QCOMPARE(f.grid.model()->colours(3), statusColours(TargetStatus::Ok));
        QVERIFY(changed.count() >= 3);
        for (const QList<QVariant> &args : changed) {
            QCOMPARE(args.at(0).value<QModelIndex>().row(), 2);
            QCOMPARE(args.at(1).value<QModelIndex>().row(), 2);
        }
        QCOMPARE(f.grid.currentRow(), 1);
        QCOMPARE(rowSpy.count(), 0);

        // Rows that a rebuild has taken away are passed over.
        changed.clear();
        f.grid.showStatus(4, TargetStatus::Ok);
        f.grid.showChecking(0);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(f.grid.cell(0, GridColumn::Status), QStringLiteral("Status"));

        // A rebuild shows the stored status, not "Checking".
        f.grid.showChecking(2);
        f.grid.load_display();
        QCOMPARE(f.grid.cell(2, GridColumn::Status), QStringLiteral("Warning"));
        QCOMPARE(f.grid.model()->colours(2), statusColours(TargetStatus::Warning));
    }

    void newentryAddsLocalTargetUntilTheTableIsFull()
    {
        Fixture f;
        f.grid.newentry();
        QCOMPARE(f.table.size(), int16_t(4));
        const Target &t = f.table[3];
        QCOMPARE((QStringList {t.Hostname, t.Desc, t.Info, t.User, t.Output}),
            (QStringList {
                QStringLiteral("localhost"), QStringLiteral("Local"), QStringLiteral("New entry"), {}, {}}));
        QCOMPARE((QList<int> {t.Status, t.Port, t.PXPort, t.Timeout, t.RTT, t.Row}),
            (QList<int> {0, 13, 3000, 5, 0, 4}));
        QVERIFY(!t.UseM && !t.UsePX && !t.UseP && !t.UseIPX && !t.TimeOK && !t.Slots && !t.Load);
        QCOMPARE(t.SmoothedRtt, 0.0);
        QCOMPARE(rowCells(f.grid, 4), QStringLiteral("Local|Unknown|New entry| 3"));
        QCOMPARE(f.grid.currentRow(), 4);

        // On a full table it does nothing.
        while (f.table.growtable()) { }
        f.grid.load_display();
        QSignalSpy reset(f.grid.model(), &QAbstractItemModel::modelReset);
        f.grid.newentry();
        QCOMPARE(f.table[f.table.lastIndex()].Hostname, QString());
        QCOMPARE(reset.count(), 0);
        QCOMPARE(f.grid.cell(f.grid.rowCount() - 1, GridColumn::Index), QStringLiteral(" 32766"));
    }

    void deleteAndClearAsk_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("indices"); // of the rows left
        QTest::addColumn<QString>("details");
        const int ok = int(UserPrompts::Answer::Ok);
        const QString unchanged = QStringLiteral(" 0| 1| 2");
        // Row 2 still exists and now names the third Target.
        QTest::newRow("delete") << false << ok << QStringLiteral(" 0| 2") << QStringLiteral("C output\r\n");
        QTest::newRow("delete cancelled")
            << false << int(UserPrompts::Answer::Cancel) << unchanged << QStringLiteral("details");
        QTest::newRow("clear") << true << ok << QString() << QString();
        QTest::newRow("clear cancelled")
            << true << int(UserPrompts::Answer::Cancel) << unchanged << QStringLiteral("details");
    }
    void deleteAndClearAsk()
    {
        QFETCH(bool, clear);
        QFETCH(int, answer);
        QFETCH(QString, indices);
        QFETCH(QString, details);
        Fixture f(2);
        f.grid.setCurrentColumn(2);
        f.grid.setTxtdata(QStringLiteral("details"));
        QSignalSpy rowSpy(&f.grid, &TargetGrid::currentRowChanged);
        ScriptedPrompts prompts;
        prompts.queueAnswer(static_cast<UserPrompts::Answer>(answer));
        clear ? f.grid.clearlist(prompts) : f.grid.delentry(prompts);
        QCOMPARE(prompts.messages.size(), 1);
        const auto &m = prompts.messages.first();
        QCOMPARE(std::tuple(m.text, m.title, m.buttons, m.icon),
            clear ? std::tuple(QStringLiteral("Are you sure you want to delete\rthe entire list?"),
                QStringLiteral("Clear list"), UserPrompts::Buttons::OkCancel, UserPrompts::Icon::Exclamation)
                  : std::tuple(QStringLiteral("Do you really want to delete host [B.lan]?"),
                      QStringLiteral("Sentrel"), UserPrompts::Buttons::OkCancel, UserPrompts::Icon::None));
        QCOMPARE(column(f.grid, GridColumn::Index), indices);
        QCOMPARE(f.grid.txtdata(), details);
        if (answer != int(UserPrompts::Answer::Ok)) {
            QCOMPARE(f.table.usedCount(), 3);
            QCOMPARE(f.grid.currentRow(), 2);
        } else if (clear) {
            QCOMPARE(f.table.size(), int16_t(1));
            QVERIFY(f.table[0].isFree());
            QCOMPARE(f.grid.currentRow(), 0);
            QCOMPARE(rowSpy.count(), 1);
            // The free slot left by clearing stays; a new entry goes after it.
            f.grid.newentry();
            QCOMPARE(rowCells(f.grid, 1), QStringLiteral("Local|Unknown|New entry| 1"));
        } else {
            QCOMPARE(f.table[1].Status, TargetStatus::Free); // the slot stays, marked free
            QCOMPARE(f.grid.currentRow(), 2);
            QCOMPARE(f.grid.currentColumn(), 0);
            QCOMPARE(rowSpy.count(), 1);
        }
    }

    void delentryWithoutATargetAsksNothing()
    {
        Fixture f;
        ScriptedPrompts prompts;
        f.grid.delentry(prompts);
        // A row whose index cell names no used slot has nothing to delete either.
        QVERIFY(f.grid.setCurrentRow(2));
        f.grid.setCell(2, GridColumn::Index, QStringLiteral(" 9"));
        f.grid.delentry(prompts);
        QCOMPARE(prompts.messages.size(), 0);
        QCOMPARE(f.table.usedCount(), 3);
    }
};

SENTREL_TEST_GUILESS_MAIN(TstStatusGrid)
#include "tst_statusgrid.moc"
