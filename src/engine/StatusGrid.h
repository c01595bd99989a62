#pragma once

#include "engine/Target.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace sentrel {

class UserPrompts;

// Cell colours as 0xRRGGBB values; WindowText stands for the palette's window-text colour,
// which only the user interface knows.
namespace GridColour {
constexpr quint32 WindowText = 0x80000008u;
constexpr quint32 White = 0xFFFFFFu;
constexpr quint32 Green = 0x00FF00u;
constexpr quint32 Yellow = 0xFFFF00u;
constexpr quint32 Red = 0xFF0000u;
} // namespace GridColour

// The grid's columns; Index holds the Target's table index and is never shown.
namespace GridColumn {
constexpr int Host = 0;
constexpr int Status = 1;
constexpr int Information = 2;
constexpr int Index = 3;
constexpr int Count = 4;
} // namespace GridColumn

// Text colour on background colour of a grid row.
struct RowColours
{
    quint32 text = GridColour::WindowText;
    quint32 background = GridColour::White;
    friend bool operator==(const RowColours &, const RowColours &) = default;
};

// The status word shown for a Target status: "OK", "Warning", "* DOWN *", else "Unknown".
QString statusWord(int16_t status);

// The status cell's text while a Target is being checked.
QString checkingWord();

// Row colours for a Target status (anything but 1, 2 or 3 is shown like "Unknown").
RowColours statusColours(int16_t status);

// Row colours while a Target is being checked.
RowColours checkingColours();

// The grid's cells as a table model. Grid rows are numbered as the user sees them: row 0
// is the header, data row r is model row r - 1; modelRow() and gridRow() are the only
// places that know this.
class StatusGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Colours are delivered as quint32 0xRRGGBB (or GridColour::WindowText) for the three visible columns.
    enum Role { TextColourRole = Qt::UserRole + 1, BackgroundColourRole };

    struct Row
    {
        std::array<QString, GridColumn::Count> cells;
        RowColours colours;
    };

    using QAbstractTableModel::QAbstractTableModel;

    static int modelRow(int gridRow) { return gridRow - 1; }
    static int gridRow(int modelRow) { return modelRow + 1; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Number of grid rows, the header included.
    int gridRowCount() const { return static_cast<int>(m_rows.size()) + 1; }
    bool isDataRow(int gridRow) const { return gridRow >= 1 && gridRow < gridRowCount(); }

    // A cell's text; row 0 gives the header texts, anything outside the grid the empty text.
    QString cell(int gridRow, int column) const;
    // Sets a data cell's text; the header row and cells outside the grid are left alone.
    void setCell(int gridRow, int column, const QString &text);
    // A data row's colours (defaults outside the grid).
    RowColours colours(int gridRow) const;
    // Sets a data row's colours; rows outside the grid are left alone.
    void setColours(int gridRow, RowColours colours);

    // Replaces all data rows in one model reset.
    void setRows(std::vector<Row> rows);

private:
    std::vector<Row> m_rows;
};

// The status grid (`gridsys`) and the details text (`txtdata`) over the Target table:
// rebuilding, selection, colouring and the add, delete and clear commands.
// Rows use grid numbering: 0 is the header (or "no row"), data rows start at 1.
class TargetGrid : public QObject
{
    Q_OBJECT
public:
    explicit TargetGrid(TargetTable &table, QObject *parent = nullptr);

    StatusGridModel *model() { return &m_model; }
    const StatusGridModel *model() const { return &m_model; }

    // Number of rows, the header included.
    int rowCount() const { return m_model.gridRowCount(); }

    int currentRow() const { return m_currentRow; }
    // Makes row current if it is in the grid (0 included); returns false and changes nothing otherwise.
    bool setCurrentRow(int row);
    int currentColumn() const { return m_currentColumn; }
    void setCurrentColumn(int column) { m_currentColumn = column; }

    QString cell(int row, int column) const { return m_model.cell(row, column); }
    void setCell(int row, int column, const QString &text) { m_model.setCell(row, column, text); }

    // The number in a row's hidden index cell; 0 when the cell holds no number.
    int indexAt(int row) const;
    // The table index of the Target a data row names, or -1 when the row names no used slot.
    int targetIndexAt(int row) const;
    // A cell's text taken as a number: leading blanks, an optional sign and digits; 0 without digits.
    static int cellNumber(const QString &text);

    const QString &txtdata() const { return m_txtdata; }
    void setTxtdata(const QString &text);

    // Rebuilds the whole grid from the table, keeping the current row when it still exists
    // (and then showing its Target's Output); otherwise the last row becomes current.
    void load_display();
    // Shows the Output of the current row's Target in the details text.
    void do_data();
    // Colours the visible cells of the current row and leaves the current column at 2.
    void rowcolour(quint32 textColour, quint32 backColour);

    // Paints a data row as being checked, without moving the current row.
    void showChecking(int row);
    // Paints a data row's status word and colours for a status, without moving the current row.
    void showStatus(int row, int16_t status);
    // Sets a data row's information cell, without moving the current row.
    void setInformation(int row, const QString &info);

    // Appends a new "Local" Target and rebuilds; does nothing when the table is full.
    void newentry();
    // Asks, then frees the current row's Target and rebuilds.
    void delentry(UserPrompts &prompts);
    // Asks, then empties the table, the grid and the details text.
    void clearlist(UserPrompts &prompts);

Q_SIGNALS:
    void currentRowChanged(int row);
    void txtdataChanged(const QString &text);

private:
    void setRowColours(int row, RowColours colours);

    TargetTable &m_table;
    StatusGridModel m_model;
    int m_currentRow = 0;
    int m_currentColumn = 0;
    QString m_txtdata;
};

} // namespace sentrel
