#include "engine/StatusGrid.h"

#include "ScriptedPrompts.h"

#include <QSignalSpy>
#include <QTest>

using namespace sentrel;
using sentrel::test::ScriptedPrompts;

namespace {

Target makeTarget(const QString &name, int16_t status)
{
    Target t;
    t.Hostname = name + QStringLiteral(".lan");
    t.Desc = name;
    t.Status = status;
    t.Info = name + QStringLiteral(" info");
    t.Output = name + QStringLiteral(" output\r\n");
    return t;
}

// A table of used Targets "A", "B", ... with the given statuses (-1 makes a free slot).
TargetTable makeTable(const QList<int> &statuses)
{
    std::vector<Target> slots;
    for (int i = 0; i < statuses.size(); ++i)
        slots.push_back(makeTarget(QString(QChar(u'A' + i)), static_cast<int16_t>(statuses[i])));
    TargetTable table;
    table.assign(std::move(slots));
    return table;
}

QStringList column(const TargetGrid &grid, int col)
{
    QStringList out;
    for (int row = 1; row < grid.rowCount(); ++row)
        out << grid.cell(row, col);
    return out;
}

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

        QTest::newRow("unknown") << 0 << QStringLiteral("Unknown") << GridColour::WindowText
                                 << GridColour::White;
        QTest::newRow("ok") << 1 << QStringLiteral("OK") << quint32(0x00FF00) << quint32(0xFFFFFF);
        QTest::newRow("warning") << 2 << QStringLiteral("Warning") << GridColour::WindowText
                                 << quint32(0xFFFF00);
        QTest::newRow("down") << 3 << QStringLiteral("* DOWN *") << quint32(0xFFFFFF) << quint32(0xFF0000);
        QTest::newRow("other") << 7 << QStringLiteral("Unknown") << GridColour::WindowText
                               << GridColour::White;
        QTest::newRow("negative") << -5 << QStringLiteral("Unknown") << GridColour::WindowText
                                  << GridColour::White;
    }
    void statusWordsAndColours()
    {
        QFETCH(int, status);
        QFETCH(QString, word);
        QFETCH(quint32, text);
        QFETCH(quint32, background);
        QCOMPARE(statusWord(static_cast<int16_t>(status)), word);
        const RowColours colours = statusColours(static_cast<int16_t>(status));
        QCOMPARE(colours.text, text);
        QCOMPARE(colours.background, background);

        // The rebuilt row carries the same word and colours through the model.
        TargetTable table = makeTable({status});
        TargetGrid grid(table);
        grid.load_display();
        const QModelIndex cell = grid.model()->index(0, GridColumn::Status);
        QCOMPARE(cell.data().toString(), word);
        QCOMPARE(cell.data(StatusGridModel::TextColourRole).value<quint32>(), text);
        QCOMPARE(cell.data(StatusGridModel::BackgroundColourRole).value<quint32>(), background);
    }

    void checkingLooksLikeUnknown()
    {
        QCOMPARE(checkingWord(), QStringLiteral("Checking"));
        QCOMPARE(checkingColours(), (RowColours {GridColour::WindowText, GridColour::White}));
        QVERIFY((GridColour::WindowText & 0xFF000000u) != 0); // never mistaken for an RGB value
    }

    void cellNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("spaced") << QStringLiteral(" 5") << 5;
        QTest::newRow("plain") << QStringLiteral("32766") << 32766;
        QTest::newRow("zero") << QStringLiteral(" 0") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("no number") << QStringLiteral("Host") << 0;
        QTest::newRow("trailing text") << QStringLiteral(" 12ab") << 12;
        QTest::newRow("negative") << QStringLiteral("-3") << -3;
        QTest::newRow("huge") << QStringLiteral("99999999999999999999") << 0;
    }
    void cellNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(TargetGrid::cellNumber(text), number);
    }

    void headersAndRowMapping()
    {
        TargetTable table = makeTable({1, 2, 3});
        TargetGrid grid(table);
        grid.load_display();
        const StatusGridModel &model = *grid.model();

        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(grid.rowCount(), 4);
        const QStringList headers = {
            QStringLiteral("Host"), QStringLiteral("Status"), QStringLiteral("Information"), QString()};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), headers[c]);
            QCOMPARE(grid.cell(0, c), headers[c]);
        }
        QCOMPARE(StatusGridModel::modelRow(1), 0);
        QCOMPARE(StatusGridModel::gridRow(2), 3);
        for (int row = 1; row < grid.rowCount(); ++row) {
            for (int c = 0; c < 4; ++c)
                QCOMPARE(model.index(StatusGridModel::modelRow(row), c).data().toString(), grid.cell(row, c));
        }
        QCOMPARE(grid.cell(4, GridColumn::Host), QString());
        QCOMPARE(grid.cell(1, 4), QString());
        QVERIFY(!model.index(3, 0).data().isValid());
    }

    void rebuildShowsUsedSlotsInIndexOrder()
    {
        TargetTable table = makeTable({1, -1, 3, 0, -1});
        table[2].Info = QStringLiteral("No response");
        TargetGrid grid(table);
        QSignalSpy inserted(grid.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(grid.model(), &QAbstractItemModel::modelReset);
        grid.load_display();

        QCOMPARE(reset.count(), 1);
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(grid.rowCount(), 4);
        QCOMPARE(column(grid, GridColumn::Host),
            (QStringList {QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D")}));
        QCOMPARE(column(grid, GridColumn::Status),
            (QStringList {QStringLiteral("OK"), QStringLiteral("* DOWN *"), QStringLiteral("Unknown")}));
        QCOMPARE(column(grid, GridColumn::Information),
            (QStringList {
                QStringLiteral("A info"), QStringLiteral("No response"), QStringLiteral("D info")}));
        QCOMPARE(column(grid, GridColumn::Index),
            (QStringList {QStringLiteral(" 0"), QStringLiteral(" 2"), QStringLiteral(" 3")}));
        QCOMPARE(table[0].Row, int16_t(1));
        QCOMPARE(table[2].Row, int16_t(2));
        QCOMPARE(table[3].Row, int16_t(3));
        for (int row = 1; row < grid.rowCount(); ++row)
            QCOMPARE(grid.targetIndexAt(row), grid.indexAt(row));
        QCOMPARE(grid.targetIndexAt(0), -1);
        QCOMPARE(grid.targetIndexAt(4), -1);
        // Without a row to restore the last row is current, in column 0.
        QCOMPARE(grid.currentRow(), 3);
        QCOMPARE(grid.currentColumn(), 0);
    }

    void rolesPerColumn()
    {
        TargetTable table = makeTable({3});
        TargetGrid grid(table);
        grid.load_display();
        const StatusGridModel &model = *grid.model();
        const int leftCentred = static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(model.index(0, GridColumn::Host).data(Qt::TextAlignmentRole).toInt(), leftCentred);
        QCOMPARE(model.index(0, GridColumn::Information).data(Qt::TextAlignmentRole).toInt(), leftCentred);
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(
                model.index(0, c).data(StatusGridModel::TextColourRole).value<quint32>(), GridColour::White);
            QCOMPARE(model.index(0, c).data(StatusGridModel::BackgroundColourRole).value<quint32>(),
                GridColour::Red);
        }
        QVERIFY(!model.index(0, GridColumn::Index).data(StatusGridModel::BackgroundColourRole).isValid());
    }

    void rebuildShowsStoredStatusNotChecking()
    {
        TargetTable table = makeTable({1, 2});
        TargetGrid grid(table);
        grid.load_display();
        grid.showChecking(2);
        QCOMPARE(grid.cell(2, GridColumn::Status), QStringLiteral("Checking"));
        grid.load_display();
        QCOMPARE(grid.cell(2, GridColumn::Status), QStringLiteral("Warning"));
        QCOMPARE(grid.model()->colours(2), statusColours(2));
    }

    void emptyTableKeepsDetails()
    {
        TargetTable table;
        TargetGrid grid(table);
        grid.setTxtdata(QStringLiteral("kept"));
        grid.load_display();
        QCOMPARE(grid.rowCount(), 1);
        QCOMPARE(grid.model()->rowCount(), 0);
        QCOMPARE(grid.currentRow(), 0);
        QCOMPARE(grid.txtdata(), QStringLiteral("kept"));
    }

    void rebuildAfterSelectedRowVanished()
    {
        // The Target of row 2 of 3 goes while row 3 is selected.
        TargetTable table = makeTable({1, 1, 1});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(3));
        grid.setTxtdata(QStringLiteral("details before"));
        table[1].Status = TargetStatus::Free;
        QSignalSpy rowSpy(&grid, &TargetGrid::currentRowChanged);
        grid.load_display();
        QCOMPARE(grid.rowCount(), 3);
        QCOMPARE(grid.currentRow(), 2);
        QCOMPARE(grid.txtdata(), QStringLiteral("details before"));
        QCOMPARE(rowSpy.count(), 1);
        QCOMPARE(rowSpy.first().first().toInt(), 2);
    }

    void rebuildKeepsSelectedRowNumber()
    {
        // The Target of row 1 of 3 goes while row 2 is selected: row 2 now shows the third Target.
        TargetTable table = makeTable({1, 1, 1});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(2));
        grid.setTxtdata(QStringLiteral("details before"));
        table[0].Status = TargetStatus::Free;
        QSignalSpy textSpy(&grid, &TargetGrid::txtdataChanged);
        grid.load_display();
        QCOMPARE(grid.currentRow(), 2);
        QCOMPARE(grid.cell(2, GridColumn::Host), QStringLiteral("C"));
        QCOMPARE(grid.txtdata(), QStringLiteral("C output\r\n"));
        QCOMPARE(textSpy.count(), 1);
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
        QVERIFY(!grid.setCurrentRow(3));
        QVERIFY(!grid.setCurrentRow(-1));
        QCOMPARE(grid.currentRow(), 0);
    }

    void cyclePaintingKeepsSelection()
    {
        TargetTable table = makeTable({1, 1, 1});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(1));
        QSignalSpy rowSpy(&grid, &TargetGrid::currentRowChanged);
        QSignalSpy changed(grid.model(), &QAbstractItemModel::dataChanged);

        grid.showChecking(3);
        QCOMPARE(grid.cell(3, GridColumn::Status), QStringLiteral("Checking"));
        QCOMPARE(grid.model()->colours(3), checkingColours());
        grid.setInformation(3, QStringLiteral("No response from host"));
        grid.showStatus(3, TargetStatus::Down);
        QCOMPARE(grid.cell(3, GridColumn::Status), QStringLiteral("* DOWN *"));
        QCOMPARE(grid.cell(3, GridColumn::Information), QStringLiteral("No response from host"));
        QCOMPARE(grid.model()->colours(3), statusColours(TargetStatus::Down));
        QVERIFY(changed.count() >= 3);
        for (const QList<QVariant> &args : changed) {
            QCOMPARE(args.at(0).value<QModelIndex>().row(), 2);
            QCOMPARE(args.at(1).value<QModelIndex>().row(), 2);
        }

        QCOMPARE(grid.currentRow(), 1);
        QCOMPARE(rowSpy.count(), 0);
        QCOMPARE(grid.model()->colours(1), statusColours(TargetStatus::Ok));

        // Rows that a rebuild has taken away are passed over.
        changed.clear();
        grid.showStatus(4, TargetStatus::Ok);
        grid.showChecking(0);
        grid.setInformation(7, QStringLiteral("x"));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(grid.cell(0, GridColumn::Status), QStringLiteral("Status"));
    }

    void rowcolourPaintsCurrentRow()
    {
        TargetTable table = makeTable({1, 1});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(2));
        grid.rowcolour(GridColour::White, GridColour::Red);
        QCOMPARE(grid.model()->colours(2), (RowColours {GridColour::White, GridColour::Red}));
        QCOMPARE(grid.model()->colours(1), statusColours(TargetStatus::Ok));
        QCOMPARE(grid.currentColumn(), 2);
        QCOMPARE(grid.currentRow(), 2);
    }

    void setCellWritesDataRowsOnly()
    {
        TargetTable table = makeTable({0});
        TargetGrid grid(table);
        grid.load_display();
        grid.setCell(1, GridColumn::Information, QStringLiteral("edited"));
        QCOMPARE(grid.cell(1, GridColumn::Information), QStringLiteral("edited"));
        grid.setCell(0, GridColumn::Host, QStringLiteral("x"));
        QCOMPARE(grid.cell(0, GridColumn::Host), QStringLiteral("Host"));
        grid.setCell(1, GridColumn::Index, QStringLiteral("no number"));
        QCOMPARE(grid.indexAt(1), 0);
    }

    void newentryAddsLocalTarget()
    {
        TargetTable table = makeTable({1});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(0));
        grid.newentry();

        QCOMPARE(table.size(), int16_t(2));
        const Target &t = table[1];
        QCOMPARE(t.Status, int16_t(0));
        QCOMPARE(t.Hostname, QStringLiteral("localhost"));
        QCOMPARE(t.Desc, QStringLiteral("Local"));
        QCOMPARE(t.Info, QStringLiteral("New entry"));
        QVERIFY(t.User.isEmpty() && t.Output.isEmpty());
        QCOMPARE(t.Port, int16_t(13));
        QCOMPARE(t.PXPort, int16_t(3000));
        QCOMPARE(t.Timeout, int16_t(5));
        QVERIFY(!t.UseM && !t.UsePX && !t.UseP && !t.UseIPX && !t.TimeOK && !t.Slots && !t.Load);
        QCOMPARE(t.SmoothedRtt, 0.0);
        QCOMPARE(t.RTT, int16_t(0));
        QCOMPARE(t.Row, int16_t(2));

        QCOMPARE(grid.rowCount(), 3);
        QCOMPARE(grid.cell(2, GridColumn::Host), QStringLiteral("Local"));
        QCOMPARE(grid.cell(2, GridColumn::Status), QStringLiteral("Unknown"));
        QCOMPARE(grid.cell(2, GridColumn::Information), QStringLiteral("New entry"));
        QCOMPARE(grid.cell(2, GridColumn::Index), QStringLiteral(" 1"));
        QCOMPARE(grid.currentRow(), 2);
    }

    void newentryOnFullTableDoesNothing()
    {
        TargetTable table = makeTable({1});
        while (table.growtable()) { }
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(5));
        grid.setTxtdata(QStringLiteral("kept"));
        QSignalSpy reset(grid.model(), &QAbstractItemModel::modelReset);
        grid.newentry();
        QCOMPARE(int(table.size()), TargetTable::MaxSlots);
        QCOMPARE(table.lastIndex(), int16_t(32766));
        QCOMPARE(table[table.lastIndex()].Hostname, QString());
        QCOMPARE(reset.count(), 0);
        QCOMPARE(grid.currentRow(), 5);
        QCOMPARE(grid.txtdata(), QStringLiteral("kept"));
        QCOMPARE(grid.cell(grid.rowCount() - 1, GridColumn::Index), QStringLiteral(" 32766"));
    }

    void delentryAsksAndFreesSlot()
    {
        TargetTable table = makeTable({1, 2, 3});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(2));
        grid.setCurrentColumn(2);
        ScriptedPrompts prompts;
        prompts.queueAnswer(UserPrompts::Answer::Ok);
        grid.delentry(prompts);

        QCOMPARE(prompts.messages.size(), 1);
        const auto &m = prompts.messages.first();
        QCOMPARE(m.text, QStringLiteral("Do you really want to delete host [B.lan]?"));
        QCOMPARE(m.title, QStringLiteral("Sentrel"));
        QCOMPARE(m.buttons, UserPrompts::Buttons::OkCancel);
        QCOMPARE(m.icon, UserPrompts::Icon::None);

        QCOMPARE(table.size(), int16_t(3));
        QCOMPARE(table[1].Status, TargetStatus::Free);
        QCOMPARE(table[1].Desc, QStringLiteral("B"));
        QCOMPARE(grid.rowCount(), 3);
        QCOMPARE(column(grid, GridColumn::Index), (QStringList {QStringLiteral(" 0"), QStringLiteral(" 2")}));
        // Row 2 still exists and now names the third Target.
        QCOMPARE(grid.currentRow(), 2);
        QCOMPARE(grid.currentColumn(), 0);
        QCOMPARE(grid.txtdata(), QStringLiteral("C output\r\n"));
    }

    void cancelLeavesEverythingUnchanged_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::addColumn<int>("answer");
        QTest::newRow("delete cancel") << false << int(UserPrompts::Answer::Cancel);
        QTest::newRow("delete closed") << false << int(UserPrompts::Answer::No);
        QTest::newRow("clear cancel") << true << int(UserPrompts::Answer::Cancel);
    }
    void cancelLeavesEverythingUnchanged()
    {
        QFETCH(bool, clear);
        QFETCH(int, answer);
        TargetTable table = makeTable({1, 2, 3});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(2));
        grid.setTxtdata(QStringLiteral("details"));
        const auto generation = table.generation();
        QSignalSpy reset(grid.model(), &QAbstractItemModel::modelReset);

        ScriptedPrompts prompts;
        prompts.queueAnswer(static_cast<UserPrompts::Answer>(answer));
        if (clear)
            grid.clearlist(prompts);
        else
            grid.delentry(prompts);

        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(table.generation(), generation);
        QCOMPARE(table.usedCount(), 3);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(grid.rowCount(), 4);
        QCOMPARE(grid.currentRow(), 2);
        QCOMPARE(grid.txtdata(), QStringLiteral("details"));
        QCOMPARE(column(grid, GridColumn::Host),
            (QStringList {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    }

    void delentryWithoutSelectionAsksNothing()
    {
        TargetTable table = makeTable({1, 1});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(0));
        ScriptedPrompts prompts;
        grid.delentry(prompts);
        QCOMPARE(prompts.messages.size(), 0);

        // A row whose index cell names no used slot has nothing to delete.
        QVERIFY(grid.setCurrentRow(2));
        grid.setCell(2, GridColumn::Index, QStringLiteral(" 9"));
        grid.delentry(prompts);
        QCOMPARE(prompts.messages.size(), 0);
        QCOMPARE(table.usedCount(), 2);
    }

    void clearlistThenNewentry()
    {
        TargetTable table = makeTable({1, 2, 3});
        TargetGrid grid(table);
        grid.load_display();
        QVERIFY(grid.setCurrentRow(1));
        grid.do_data();
        QVERIFY(!grid.txtdata().isEmpty());

        ScriptedPrompts prompts;
        prompts.queueAnswer(UserPrompts::Answer::Ok);
        QSignalSpy rowSpy(&grid, &TargetGrid::currentRowChanged);
        grid.clearlist(prompts);

        QCOMPARE(prompts.messages.size(), 1);
        const auto &m = prompts.messages.first();
        QCOMPARE(m.text, QStringLiteral("Are you sure you want to delete\rthe entire list?"));
        QCOMPARE(m.title, QStringLiteral("Clear list"));
        QCOMPARE(m.buttons, UserPrompts::Buttons::OkCancel);
        QCOMPARE(m.icon, UserPrompts::Icon::Exclamation);

        QCOMPARE(grid.rowCount(), 1);
        QCOMPARE(grid.currentRow(), 0);
        QCOMPARE(rowSpy.count(), 1);
        QCOMPARE(table.size(), int16_t(1));
        QVERIFY(table[0].isFree());
        QVERIFY(grid.txtdata().isEmpty());

        grid.newentry();
        QCOMPARE(table.size(), int16_t(2));
        QVERIFY(table[0].isFree());
        QCOMPARE(table[1].Desc, QStringLiteral("Local"));
        QCOMPARE(grid.rowCount(), 2);
        QCOMPARE(grid.cell(1, GridColumn::Host), QStringLiteral("Local"));
        QCOMPARE(grid.cell(1, GridColumn::Index), QStringLiteral(" 1"));
        QCOMPARE(grid.targetIndexAt(1), 1);
        QCOMPARE(grid.currentRow(), 1);
    }

    void scriptedPromptsDefaults()
    {
        ScriptedPrompts prompts;
        QCOMPARE(prompts.message(QStringLiteral("a"), QStringLiteral("t"), UserPrompts::Buttons::Ok,
                     UserPrompts::Icon::None),
            UserPrompts::Answer::Ok);
        QCOMPARE(prompts.message(QStringLiteral("b"), QStringLiteral("t"), UserPrompts::Buttons::OkCancel,
                     UserPrompts::Icon::None),
            UserPrompts::Answer::Cancel);
        QCOMPARE(prompts.unscriptedMessages, 2);
        prompts.queueFile(QStringLiteral("/tmp/x.exp"));
        QCOMPARE(prompts.chooseFile(true, QStringLiteral("Save"), QString(), QString(), QString()),
            QStringLiteral("/tmp/x.exp"));
        QCOMPARE(
            prompts.chooseFile(false, QStringLiteral("Open"), QString(), QString(), QString()), QString());
        QCOMPARE(prompts.fileRequests.size(), 2);
        QVERIFY(prompts.fileRequests.first().save);
        QCOMPARE(prompts.unscriptedFiles, 1);
    }
};

QTEST_GUILESS_MAIN(TstStatusGrid)
#include "tst_statusgrid.moc"
