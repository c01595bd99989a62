#include "ui/GroupAlertWindow.h"

#include "engine/StatusGrid.h"
#include "engine/Target.h"
#include "ui/AlertWindow.h"
#include "ui/GridColours.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace sentrel {

namespace {

enum Column { Host, Status, Information, Time, ColumnCount };

} // namespace

ProblemListModel::ProblemListModel(const QLocale &locale, QObject *parent)
    : QAbstractTableModel(parent)
    , m_locale(locale)
{ }

int ProblemListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_problems.size());
}

int ProblemListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProblemListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ProblemAlert &p = problem(index.row());
    const RowColours colours = statusColours(p.status);
    const QColor back = QColor::fromRgb(static_cast<QRgb>(colours.background));
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Host:
            return p.desc;
        case Status:
            return statusWord(p.status);
        case Information:
            return p.info;
        case Time:
            return AlertWindow::timeText(p.raisedAt, m_locale);
        default:
            return {};
        }
    case Qt::BackgroundRole:
        return index.column() == Status ? QVariant(QBrush(back)) : QVariant();
    case Qt::ForegroundRole:
        if (index.column() != Status)
            return {};
        if (colours.text == GridColour::WindowText)
            return QBrush(readableWindowText(QApplication::palette().color(QPalette::WindowText), back));
        return QBrush(QColor::fromRgb(static_cast<QRgb>(colours.text)));
    default:
        return {};
    }
}

QVariant ProblemListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Host:
        return QStringLiteral("Host");
    case Status:
        return QStringLiteral("Status");
    case Information:
        return QStringLiteral("Information");
    case Time:
        return QStringLiteral("Time");
    default:
        return {};
    }
}

void ProblemListModel::append(const ProblemAlert &problem)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_problems.push_back(problem);
    endInsertRows();
}

GroupAlertWindow::GroupAlertWindow(const QLocale &locale)
    : QWidget(nullptr, AlertWindowFlags)
    , m_model(locale)
{
    setUpAlertWindow(this, QStringLiteral("frmalerts"));

    auto *explain = new QLabel(QStringLiteral("The following hosts are not responding to enquiries from the "
                                              "sentrel program.  For further information, check the Details "
                                              "box for each host."),
        this);
    explain->setObjectName(QStringLiteral("Label2"));
    explain->setWordWrap(true);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("lblcount"));

    m_list = new QTableView(this);
    m_list->setObjectName(QStringLiteral("lstalerts"));
    m_list->setModel(&m_model);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    // Fixed row heights and column widths: measuring thousands of rows would cost more than the list.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_list->font()).height() + 4);
    m_list->horizontalHeader()->setStretchLastSection(true);
    const double dpi = logicalDpiX();
    m_list->setColumnWidth(Host, twipsToPixels(1800, dpi));
    m_list->setColumnWidth(Status, twipsToPixels(1000, dpi));
    m_list->setColumnWidth(Information, twipsToPixels(3000, dpi));

    auto *text = new QVBoxLayout;
    text->addWidget(explain);
    text->addWidget(m_count);
    auto *ok = layOutAlertWindow(this, QStringLiteral("Hosts not responding!"), text, m_list);
    connect(ok, &QPushButton::clicked, this, &GroupAlertWindow::acknowledge);
    resize(twipsToPixels(9000, dpi), twipsToPixels(4500, logicalDpiY()));
}

void GroupAlertWindow::add(const ProblemAlert &problem)
{
    m_model.append(problem);
    m_count->setText(QStringLiteral("Problems: %1").arg(problemCount()));
    if (!isVisible())
        show();
    // Many problems of one cycle come in one burst; the list scrolls and the window
    // comes back on top once after it.
    if (!m_scrollPending) {
        m_scrollPending = true;
        QTimer::singleShot(0, this, [this] {
            m_scrollPending = false;
            m_list->scrollToBottom();
            raise();
        });
    }
}

int GroupAlertWindow::problemCount() const
{
    return m_model.rowCount();
}

void GroupAlertWindow::acknowledge()
{
    m_acknowledged = true;
    close();
}

void GroupAlertWindow::closeEvent(QCloseEvent *event)
{
    // Only "Acknowledge" (or the program's end) takes the problems off the screen.
    if (m_acknowledged || QApplication::closingDown())
        event->accept();
    else
        event->ignore();
}

} // namespace sentrel
