#include "engine/StatusGrid.h"

#include "engine/UserPrompts.h"
#include "probes/ProbeTypes.h"

#include <limits>

namespace sentrel {

QString statusWord(int16_t status)
{
    switch (status) {
    case TargetStatus::Ok:
        return QStringLiteral("OK");
    case TargetStatus::Warning:
        return QStringLiteral("Warning");
    case TargetStatus::Down:
        return QStringLiteral("* DOWN *");
    default:
        return QStringLiteral("Unknown");
    }
}

QString checkingWord()
{
    return QStringLiteral("Checking");
}

RowColours statusColours(int16_t status)
{
    switch (status) {
    case TargetStatus::Ok:
        return {GridColour::Green, GridColour::White};
    case TargetStatus::Warning:
        return {GridColour::WindowText, GridColour::Yellow};
    case TargetStatus::Down:
        return {GridColour::White, GridColour::Red};
    default:
        return {GridColour::WindowText, GridColour::White};
    }
}

RowColours checkingColours()
{
    return {GridColour::WindowText, GridColour::White};
}

int StatusGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StatusGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : GridColumn::Count;
}

QVariant StatusGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()) || index.column() < 0
        || index.column() >= GridColumn::Count)
        return {};
    const Row &row = m_rows[static_cast<size_t>(index.row())];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return row.cells[static_cast<size_t>(column)];
    case Qt::TextAlignmentRole:
        if (column == GridColumn::Host || column == GridColumn::Information)
            return QVariant::fromValue(static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter));
        return {};
    case TextColourRole:
        return column == GridColumn::Index ? QVariant() : QVariant::fromValue(row.colours.text);
    case BackgroundColourRole:
        return column == GridColumn::Index ? QVariant() : QVariant::fromValue(row.colours.background);
    default:
        return {};
    }
}

QVariant StatusGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return cell(0, section);
}

QString StatusGridModel::cell(int gridRow, int column) const
{
    if (column < 0 || column >= GridColumn::Count)
        return {};
    if (gridRow == 0) {
        switch (column) {
        case GridColumn::Host:
            return QStringLiteral("Host");
        case GridColumn::Status:
            return QStringLiteral("Status");
        case GridColumn::Information:
            return QStringLiteral("Information");
        default:
            return {};
        }
    }
    if (!isDataRow(gridRow))
        return {};
    return m_rows[static_cast<size_t>(modelRow(gridRow))].cells[static_cast<size_t>(column)];
}

void StatusGridModel::setCell(int gridRow, int column, const QString &text)
{
    if (!isDataRow(gridRow) || column < 0 || column >= GridColumn::Count)
        return;
    QString &target = m_rows[static_cast<size_t>(modelRow(gridRow))].cells[static_cast<size_t>(column)];
    if (target == text)
        return;
    target = text;
    const QModelIndex changed = index(modelRow(gridRow), column);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

RowColours StatusGridModel::colours(int gridRow) const
{
    return isDataRow(gridRow) ? m_rows[static_cast<size_t>(modelRow(gridRow))].colours : RowColours {};
}

void StatusGridModel::setColours(int gridRow, RowColours colours)
{
    if (!isDataRow(gridRow))
        return;
    RowColours &target = m_rows[static_cast<size_t>(modelRow(gridRow))].colours;
    if (target == colours)
        return;
    target = colours;
    Q_EMIT dataChanged(index(modelRow(gridRow), GridColumn::Host),
        index(modelRow(gridRow), GridColumn::Information), {TextColourRole, BackgroundColourRole});
}

void StatusGridModel::setRows(std::vector<Row> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

TargetGrid::TargetGrid(TargetTable &table, QObject *parent)
    : QObject(parent)
    , m_table(table)
{ }

bool TargetGrid::setCurrentRow(int row)
{
    if (row < 0 || row >= rowCount())
        return false;
    if (row != m_currentRow) {
        m_currentRow = row;
        Q_EMIT currentRowChanged(row);
    }
    return true;
}

int TargetGrid::cellNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        // Anything this large names no slot; stop before the value can overflow.
        if (value > std::numeric_limits<int>::max())
            return 0;
    }
    return static_cast<int>(negative ? -value : value);
}

int TargetGrid::indexAt(int row) const
{
    return cellNumber(cell(row, GridColumn::Index));
}

int TargetGrid::targetIndexAt(int row) const
{
    if (!m_model.isDataRow(row))
        return -1;
    const int index = indexAt(row);
    if (!m_table.isValidIndex(index) || m_table[static_cast<int16_t>(index)].isFree())
        return -1;
    return index;
}

void TargetGrid::setTxtdata(const QString &text)
{
    if (text == m_txtdata)
        return;
    m_txtdata = text;
    Q_EMIT txtdataChanged(m_txtdata);
}

void TargetGrid::load_display()
{
    const int savedRow = m_currentRow;

    std::vector<StatusGridModel::Row> rows;
    rows.reserve(static_cast<size_t>(m_table.usedCount()));
    for (int i = 0; i < m_table.size(); ++i) {
        Target &t = m_table[static_cast<int16_t>(i)];
        if (t.isFree())
            continue;
        t.Row = static_cast<int16_t>(StatusGridModel::gridRow(static_cast<int>(rows.size())));
        StatusGridModel::Row &row = rows.emplace_back();
        row.cells[GridColumn::Index] = spaced(i);
        row.cells[GridColumn::Host] = t.Desc;
        row.cells[GridColumn::Status] = statusWord(t.Status);
        row.cells[GridColumn::Information] = t.Info;
        row.colours = statusColours(t.Status);
    }
    m_model.setRows(std::move(rows));

    // Each new row became the current one as it was added, so without a restorable
    // saved row the selection ends on the last row.
    if (savedRow > 0 && savedRow < rowCount()) {
        m_currentRow = savedRow;
        const int index = targetIndexAt(savedRow);
        if (index >= 0)
            setTxtdata(m_table[static_cast<int16_t>(index)].Output);
    } else {
        m_currentRow = rowCount() - 1;
    }
    m_currentColumn = 0;
    // The model reset dropped the view's selection, so it must be told even when the number is unchanged.
    Q_EMIT currentRowChanged(m_currentRow);
}

void TargetGrid::do_data()
{
    const int index = targetIndexAt(m_currentRow);
    if (index >= 0)
        setTxtdata(m_table[static_cast<int16_t>(index)].Output);
    m_currentColumn = 0;
}

void TargetGrid::rowcolour(quint32 textColour, quint32 backColour)
{
    setRowColours(m_currentRow, {textColour, backColour});
    m_currentColumn = GridColumn::Information;
}

void TargetGrid::setRowColours(int row, RowColours colours)
{
    m_model.setColours(row, colours);
}

void TargetGrid::showChecking(int row)
{
    m_model.setCell(row, GridColumn::Status, checkingWord());
    setRowColours(row, checkingColours());
}

void TargetGrid::showStatus(int row, int16_t status)
{
    setRowColours(row, statusColours(status));
    m_model.setCell(row, GridColumn::Status, statusWord(status));
}

void TargetGrid::setInformation(int row, const QString &info)
{
    m_model.setCell(row, GridColumn::Information, info);
}

void TargetGrid::newentry()
{
    if (!m_table.growtable())
        return;
    Target &t = m_table[m_table.lastIndex()];
    t.Status = TargetStatus::Unknown;
    t.Hostname = QStringLiteral("localhost");
    t.Uid = newTargetUid();
    t.Desc = QStringLiteral("Local");
    t.User.clear();
    t.Info = QStringLiteral("New entry");
    t.Output.clear();
    t.Port = 13;
    t.PXPort = 3000;
    t.UseM = false;
    t.UsePX = false;
    t.UseP = false;
    t.Timeout = 5;
    t.TimeOK = false;
    load_display();
}

void TargetGrid::delentry(UserPrompts &prompts)
{
    if (m_currentRow < 1)
        return;
    const int index = targetIndexAt(m_currentRow);
    m_currentColumn = 0;
    // A row that names no used slot has nothing to delete; freeing "slot 0" instead would hit the wrong
    // Target.
    if (index < 0)
        return;
    const QString question = QStringLiteral("Do you really want to delete host [")
        + m_table[static_cast<int16_t>(index)].Hostname + QStringLiteral("]?");
    if (prompts.message(question, programTitle(), UserPrompts::Buttons::OkCancel, UserPrompts::Icon::None)
        != UserPrompts::Answer::Ok)
        return;
    m_table[static_cast<int16_t>(index)].Status = TargetStatus::Free;
    load_display();
}

void TargetGrid::clearlist(UserPrompts &prompts)
{
    const QString question =
        QStringLiteral("Are you sure you want to delete") + QChar(u'\r') + QStringLiteral("the entire list?");
    if (prompts.message(question, QStringLiteral("Clear list"), UserPrompts::Buttons::OkCancel,
            UserPrompts::Icon::Exclamation)
        != UserPrompts::Answer::Ok)
        return;
    m_model.setRows({});
    m_table.reset();
    setTxtdata(QString());
    m_currentRow = 0;
    m_currentColumn = 0;
    Q_EMIT currentRowChanged(m_currentRow);
}

} // namespace sentrel
