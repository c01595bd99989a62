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
#include <QWindow>

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
    case Qt::ToolTipRole:
        // The two columns that may be cut short at the window's width.
        return index.column() == Host       ? QVariant(p.desc)
            : index.column() == Information ? QVariant(p.info)
                                            : QVariant();
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
    // Tab leaves the list for Acknowledge instead of walking its cells.
    m_list->setTabKeyNavigation(false);
    m_list->setItemDelegate(new StatusRowDelegate(Host, Time, m_list));
    m_list->verticalHeader()->hide();
    // Fixed row heights: measuring thousands of rows would cost more than the list.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_list->font()).height() + 4);
    // Information takes what the others leave; they grow to their widest cell as rows come,
    // one row measured at a time, so the theme's font never cuts the status or the time.
    m_list->horizontalHeader()->setStretchLastSection(false);
    m_list->horizontalHeader()->setSectionResizeMode(Information, QHeaderView::Stretch);
    for (const int c : {Host, Status, Time})
        m_list->setColumnWidth(c, m_list->horizontalHeader()->sectionSizeHint(c));
    const double dpi = logicalDpiX();

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
    fitColumns(m_model.rowCount() - 1);
    m_count->setText(QStringLiteral("Problems: %1").arg(problemCount()));
    if (isVisible() && m_painted && !(windowHandle() && windowHandle()->isExposed())) {
        // Its window was destroyed behind Qt's back (an X client's kill, the window manager)
        // or minimised: Qt still counts it shown, so it gets a new native window.
        m_painted = false;
        hide();
        destroy();
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
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

void GroupAlertWindow::fitColumns(int row)
{
    // A long description is cut short (its tooltip has it all) so that Time stays in view.
    const int hostLimit = twipsToPixels(2400, logicalDpiX());
    const int grid = m_list->showGrid() ? 1 : 0;
    for (const int c : {Host, Status, Time}) {
        int wanted = m_list->sizeHintForIndex(m_model.index(row, c)).width() + grid;
        if (c == Host)
            wanted = std::min(wanted, std::max(hostLimit, m_list->horizontalHeader()->sectionSizeHint(c)));
        if (wanted > m_list->columnWidth(c))
            m_list->setColumnWidth(c, wanted);
    }
}

bool GroupAlertWindow::event(QEvent *event)
{
    // A top-level window is painted only once it is on the screen.
    if (event->type() == QEvent::Paint)
        m_painted = true;
    return QWidget::event(event);
}

void GroupAlertWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A new font (the desktop's theme changed) measures every row again, once.
    if (event->type() == QEvent::FontChange && m_list) {
        m_list->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_list->font()).height() + 4);
        for (const int c : {Host, Status, Time})
            m_list->setColumnWidth(c, m_list->horizontalHeader()->sectionSizeHint(c));
        for (int row = 0; row < m_model.rowCount(); ++row)
            fitColumns(row);
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
