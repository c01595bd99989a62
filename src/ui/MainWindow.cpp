#include "ui/MainWindow.h"

#include "engine/UserPrompts.h"
#include "history/HistoryRecorder.h"
#include "logging/LogFiles.h"
#include "logging/LogWriter.h"
#include "probes/WinSock.h"
#include "settings/ExportFile.h"
#include "settings/SettingsStore.h"
#include "ui/AboutDialog.h"
#include "ui/AlertWindow.h"
#include "ui/ConfigDialog.h"
#include "ui/DesktopNotifier.h"
#include "ui/DesktopTray.h"
#include "ui/EmptyGridHint.h"
#include "ui/Fonts.h"
#include "ui/GridColours.h"
#include "ui/GroupAlertWindow.h"
#include "ui/GroupNotification.h"
#include "ui/HistoryPanel.h"
#include "ui/LogCommands.h"
#include "ui/LogOptionsDialog.h"
#include "ui/Logo.h"
#include "ui/PortPicker.h"
#include "ui/PreferencesDialog.h"
#include "ui/QtPrompts.h"
#include "ui/SplashWindow.h"
#include "ui/Twips.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTableView>
#include <QToolButton>

#include <cmath>
#include <cstdio>

// Static libraries drop resources nobody refers to; the main window refers to them here.
static void initSentrelResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace sentrel {

namespace {

// The splitter button: dragged as a whole and dropped where the border is to go.
class SplitterButton : public QToolButton
{
public:
    std::function<void(const QPoint &globalPos)> dropped;

    using QToolButton::QToolButton;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton) {
            m_dragging = true;
            setCursor(Qt::SplitVCursor);
        }
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (m_dragging && event->button() == Qt::LeftButton) {
            m_dragging = false;
            unsetCursor();
            if (dropped)
                dropped(event->globalPosition().toPoint());
        }
        event->accept();
    }

private:
    bool m_dragging = false;
};

constexpr int DefaultCol0 = 1800;
constexpr int DefaultCol1 = 1000;
constexpr int DefaultCol2 = 7500;

} // namespace

MainWindow::MainWindow(Options options)
    : m_options(std::move(options))
{
    initSentrelResources();
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QStringLiteral("Sentrel"));
    setWindowIcon(programIcon());
    if (m_options.prompts) {
        m_prompts = m_options.prompts;
    } else {
        m_ownPrompts = std::make_unique<QtPrompts>(this);
        m_prompts = m_ownPrompts.get();
    }
    if (m_options.dataFolder.isEmpty())
        m_options.dataFolder = programDataFolder();
    m_store = m_options.settingsFile.isEmpty() ? std::make_unique<SettingsStore>()
                                               : std::make_unique<SettingsStore>(m_options.settingsFile);
    m_grid = std::make_unique<TargetGrid>(m_table);
    m_resolver = std::make_unique<HostResolver>();
    m_icmp = std::make_unique<IcmpEchoService>();
    ProbeKit kit;
    kit.resolver = m_resolver.get();
    kit.icmp = m_icmp.get();
    kit.netware = &m_netware;
    m_monitor =
        std::make_unique<Monitor>(m_table, m_settings, *m_grid, static_cast<MonitorView &>(*this), kit);
    m_monitor->setLogWriter([this] {
        logentry(m_table, m_settings, m_monitor->loggingEnabled(), *m_prompts, QDateTime::currentDateTime());
    });
    buildControls();
    buildMenus();
    buildDesktop();
    // Laid out at the design places: they are the defaults of the stored layout, so the
    // resize rule first runs when start-up applies the stored size or the window shows.
    setOuterSizeTwips(m_layout.windowWidth, m_layout.windowHeight);
    applyLayout();
}

MainWindow::~MainWindow()
{
    // The engine refers to the grid and the table; it goes first.
    m_monitor.reset();
    // The panel listens to the recorder, which ends the history's spells as it goes.
    delete m_historyPanel;
    m_history.reset();
}

void MainWindow::buildDesktop()
{
    std::unique_ptr<TrayBackend> backend = m_options.makeTray ? m_options.makeTray() : makeSystemTray();
    if (backend) {
        m_tray = std::make_unique<DesktopTray>(
            std::move(backend), this, action("optupdate"), action("optenable"), action("optexit"));
        m_tray->setHideWhenMinimised([this] { return m_desktop.HideToTray; });
        connect(m_monitor.get(), &Monitor::cycleStarted, m_tray.get(), &DesktopTray::cycleStarted);
        connect(m_monitor.get(), &Monitor::cycleFinished, m_tray.get(),
            [this] { m_tray->cycleFinished(m_table, QDateTime::currentDateTime()); });
    }
    if (m_options.notifier) {
        m_notifier = m_options.notifier;
    } else {
        m_ownNotifier = std::make_unique<FreedesktopNotifier>(
            [this](const QString &summary, const QString &body, bool critical) {
                if (m_tray)
                    m_tray->backend().showMessage(summary, body, critical);
            });
        m_notifier = m_ownNotifier.get();
    }
    m_groupNotification = std::make_unique<GroupNotification>(*m_notifier, *m_monitor);
}

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFont(dialogFont());
    setCentralWidget(client);

    m_label1 = new QLabel(QStringLiteral("Monitored Systems"), client);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_lblstat = new QLabel(client);
    m_lblstat->setObjectName(QStringLiteral("lblstat"));
    QPalette red = m_lblstat->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    m_lblstat->setPalette(red);
    m_lblcount = new QLabel(client);
    m_lblcount->setObjectName(QStringLiteral("lblcount"));

    m_gridsys = new QTableView(client);
    m_gridsys->setObjectName(QStringLiteral("gridsys"));
    m_gridsys->setToolTip(QStringLiteral("List of devices and hosts to monitor"));
    auto *proxy = new GridColourProxy(m_gridsys);
    proxy->setSourceModel(m_grid->model());
    m_gridsys->setModel(proxy);
    new EmptyGridHint(m_gridsys, emptyGridHintText());
    m_gridsys->setItemDelegate(new StatusRowDelegate(GridColumn::Host, GridColumn::Information, m_gridsys));
    m_gridsys->setFont(arialFont(8));
    m_gridsys->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_gridsys->setSelectionMode(QAbstractItemView::SingleSelection);
    m_gridsys->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_gridsys->verticalHeader()->hide();
    m_gridsys->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_gridsys->font()).height() + 4);
    m_gridsys->horizontalHeader()->setHighlightSections(false);
    m_gridsys->setWordWrap(false);
    m_gridsys->setColumnHidden(GridColumn::Index, true);
    m_gridsys->installEventFilter(this);
    m_gridsys->viewport()->installEventFilter(this);
    setColumnWidthTwips(0, DefaultCol0);
    setColumnWidthTwips(1, DefaultCol1);
    setColumnWidthTwips(2, DefaultCol2);
    connect(m_gridsys->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) {
            if (m_syncingSelection || !current.isValid())
                return;
            m_grid->setCurrentRow(StatusGridModel::gridRow(current.row()));
            m_grid->do_data();
        });
    // A click below the last row or a Ctrl+click clears the view's selection, while the
    // grid keeps its current row for Delete and Enter; the row stays highlighted.
    connect(m_gridsys->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!m_syncingSelection && !m_gridsys->selectionModel()->hasSelection() && m_grid->currentRow() >= 1)
            syncViewToGrid(m_grid->currentRow());
    });
    connect(m_grid.get(), &TargetGrid::currentRowChanged, this, &MainWindow::syncViewToGrid);
    connect(m_grid->model(), &QAbstractItemModel::modelReset, this,
        [this] { syncViewToGrid(m_grid->currentRow()); });

    auto *splitter = new SplitterButton(client);
    splitter->setObjectName(QStringLiteral("cmdsize"));
    splitter->setText(QStringLiteral(">"));
    splitter->setFocusPolicy(Qt::NoFocus);
    splitter->dropped = [this](
                            const QPoint &global) { dropSplitterAt(centralWidget()->mapFromGlobal(global)); };
    m_cmdsize = splitter;

    m_txtdata = new QPlainTextEdit(client);
    m_txtdata->setObjectName(QStringLiteral("txtdata"));
    m_txtdata->setToolTip(QStringLiteral("Additional output from host and any error messages"));
    m_txtdata->setReadOnly(true);
    m_txtdata->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtdata->setFont(courierNewFont(9));
    m_txtdata->viewport()->installEventFilter(this);
    connect(m_grid.get(), &TargetGrid::txtdataChanged, m_txtdata, &QPlainTextEdit::setPlainText);

    if (!m_options.historyFile.isEmpty()) {
        m_history = std::make_unique<HistoryRecorder>(m_options.historyFile);
        m_history->attach(*m_monitor, m_table);
        m_historyPanel = new HistoryPanel(*m_history, client);
        m_historyPanel->hide();
        connect(m_grid.get(), &TargetGrid::currentRowChanged, this, &MainWindow::showHistoryOfCurrentRow);
        connect(m_grid->model(), &QAbstractItemModel::modelReset, this, &MainWindow::showHistoryOfCurrentRow);
        connect(m_history.get(), &HistoryRecorder::notice, this, [](const QString &text) {
            std::fprintf(stderr, "sentrel: %s\n", text.toLocal8Bit().constData());
        });
    }

    m_layout.optdetails = false;
    m_cmdsize->hide();
    m_txtdata->hide();
}

void MainWindow::showHistoryOfCurrentRow()
{
    const int index = m_grid->targetIndexAt(m_grid->currentRow());
    m_historyPanel->showTarget(index >= 0 ? m_table[static_cast<int16_t>(index)].Uid : QString());
}

QAction *MainWindow::addItem(
    QMenu *menu, const char *name, const QString &caption, const QKeySequence &shortcut)
{
    auto *a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    return a;
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();
    auto *file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnufile"));
    connect(addItem(file, "optupdate", QStringLiteral("Update &Now"), Qt::Key_F11), &QAction::triggered,
        m_monitor.get(), &Monitor::optupdate_Click);
    auto *abort = addItem(file, "optabort", QStringLiteral("&Abort update"), Qt::Key_F3);
    abort->setEnabled(false);
    connect(abort, &QAction::triggered, m_monitor.get(), &Monitor::optabort_Click);
    auto *enable = addItem(file, "optenable", QStringLiteral("&Sentrel enabled"), Qt::Key_F12);
    enable->setCheckable(true);
    enable->setChecked(true);
    connect(enable, &QAction::triggered, this, [this] { m_monitor->optenable_Click(); });
    connect(m_monitor.get(), &Monitor::monitoringEnabledChanged, enable, &QAction::setChecked);
    auto *warn = addItem(
        file, "optwarn", QStringLiteral("Pop up on &Warning?"), QKeySequence(Qt::SHIFT | Qt::Key_F12));
    warn->setCheckable(true);
    connect(warn, &QAction::triggered, this, [this] { m_monitor->optwarn_Click(); });
    connect(m_monitor.get(), &Monitor::warnChanged, warn, &QAction::setChecked);
    connect(
        addItem(file, "optoptions", QStringLiteral("&Preferences...")), &QAction::triggered, this, [this] {
            // An open dialog is only brought forward, and is connected already.
            const bool opening = !m_preferences;
            auto *dlg = PreferencesDialog::showPreferences(
                m_preferences, m_settings, gridFontSize(), m_txtdata->font().pointSizeF(), this, &m_desktop);
            if (!opening)
                return;
            connect(dlg, &PreferencesDialog::gridFontSizeChosen, this, &MainWindow::setGridFontSize);
            connect(dlg, &PreferencesDialog::detailsFontSizeChosen, this, [this](double points) {
                QFont f = m_txtdata->font();
                f.setPointSizeF(points);
                m_txtdata->setFont(f);
            });
            connect(
                dlg, &QDialog::accepted, this, [this] { action("optwarn")->setChecked(m_settings.Warn); });
        });
    auto *saveOnExit = addItem(file, "optsaveonexit", QStringLiteral("Save settings to registry on exit"));
    saveOnExit->setCheckable(true);
    saveOnExit->setChecked(true);
    connect(addItem(file, "optsave", QStringLiteral("&Save settings to registry now"), Qt::Key_F4),
        &QAction::triggered, this, &MainWindow::save_registry);
    file->addSeparator()->setObjectName(QStringLiteral("optnull"));
    connect(addItem(file, "optexit", QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_X)),
        &QAction::triggered, this, &MainWindow::optexit_Click);

    auto *sys = bar->addMenu(QStringLiteral("&Systems"));
    sys->setObjectName(QStringLiteral("mnusys"));
    connect(addItem(sys, "optadd", QStringLiteral("&Add"), QKeySequence(Qt::CTRL | Qt::Key_A)),
        &QAction::triggered, this, [this] { m_grid->newentry(); });
    connect(addItem(sys, "optdelete", QStringLiteral("&Delete"), QKeySequence(Qt::CTRL | Qt::Key_D)),
        &QAction::triggered, this, [this] { m_grid->delentry(*m_prompts); });
    connect(addItem(sys, "optedit", QStringLiteral("&Edit"), QKeySequence(Qt::CTRL | Qt::Key_E)),
        &QAction::triggered, this, &MainWindow::edititem);
    connect(addItem(sys, "optclear", QStringLiteral("&Clear")), &QAction::triggered, this,
        [this] { m_grid->clearlist(*m_prompts); });
    sys->addSeparator()->setObjectName(QStringLiteral("optnull3"));
    connect(addItem(sys, "optexport", QStringLiteral("E&xport settings to file")), &QAction::triggered, this,
        &MainWindow::runExport);
    connect(addItem(sys, "optimport", QStringLiteral("&Import settings from file")), &QAction::triggered,
        this, &MainWindow::runImport);

    auto *logging = bar->addMenu(QStringLiteral("&Logging"));
    logging->setObjectName(QStringLiteral("mnulogging"));
    auto *logEnable = addItem(
        logging, "optenablelogging", QStringLiteral("&Logging enabled"), QKeySequence(Qt::CTRL | Qt::Key_L));
    logEnable->setCheckable(true);
    connect(logEnable, &QAction::toggled, m_monitor.get(), &Monitor::setLoggingEnabled);
    connect(addItem(logging, "optlogfile", logFileCaption(m_settings.Filename)), &QAction::triggered, this,
        [this] {
            if (chooseLogFile(m_settings, *m_prompts)) {
                updateLogFileCaption();
                // A new file may be logged to at once, even while a cycle holds the old one.
                action("optenablelogging")->setEnabled(true);
            }
        });
    connect(addItem(logging, "optlogclear", QStringLiteral("Clear log")), &QAction::triggered, this,
        [this] { clearLog(m_settings, *m_prompts); });
    connect(addItem(logging, "optlogswitch", QStringLiteral("Switch log file")), &QAction::triggered, this,
        [this] { switchLog(m_settings, *m_prompts); });
    connect(addItem(logging, "optlogopts", QStringLiteral("Options...")), &QAction::triggered, this, [this] {
        LogOptionsDialog dlg(m_settings, *m_prompts, this);
        dlg.exec();
        updateLogFileCaption();
    });

    auto *display = bar->addMenu(QStringLiteral("&Display"));
    display->setObjectName(QStringLiteral("mnudisplay"));
    auto *small = addItem(display, "optsmall", QStringLiteral("Small Mode"), Qt::Key_F9);
    small->setCheckable(true);
    connect(small, &QAction::triggered, this, [this, small] {
        small->setChecked(!small->isChecked()); // the click handler owns the mark
        optsmall_Click();
    });
    auto *details = addItem(
        display, "optdetails", QStringLiteral("&Show Details Window"), QKeySequence(Qt::CTRL | Qt::Key_S));
    details->setCheckable(true);
    connect(details, &QAction::triggered, this, [this, details] {
        details->setChecked(m_layout.optdetails); // the click handler owns the mark
        toggle_details();
    });
    if (m_historyPanel) {
        auto *history = addItem(display, "opthistory", QStringLiteral("Show &History"));
        history->setCheckable(true);
        history->setChecked(m_desktop.History);
        connect(history, &QAction::toggled, this, [this](bool on) {
            m_desktop.History = on;
            applyLayout();
        });
    }
    connect(addItem(display, "optrefresh", QStringLiteral("&Refresh List"), Qt::Key_F5), &QAction::triggered,
        m_monitor.get(), &Monitor::optrefresh_Click);

    auto *help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuhelp"));
    auto *context = addItem(help, "optcontext", QStringLiteral("&Context sensitive"));
    context->setCheckable(true);
    context->setChecked(true);
    context->setEnabled(false);
    help->addSeparator()->setObjectName(QStringLiteral("optnull2"));
    connect(
        addItem(help, "optabout", QStringLiteral("&About"), Qt::Key_F1), &QAction::triggered, this, [this] {
            AboutDialog about(*m_prompts, this);
            about.exec();
        });
}

QAction *MainWindow::action(const char *name) const
{
    return findChild<QAction *>(QString::fromLatin1(name));
}

bool MainWindow::startup()
{
    QPointer<SplashWindow> splash;
    if (m_options.splash) {
        splash = new SplashWindow;
        splash->show();
    }
    if (!StartWinsock()) {
        if (splash)
            splash->close();
        return false;
    }
    if (!m_store->readError().isEmpty()) {
        // Carrying on with an empty list would only lose the user's Targets at the next save.
        if (splash)
            splash->close();
        m_prompts->message(QStringLiteral("Unable to read the settings file ") + m_store->fileName()
                + QStringLiteral(":") + QChar(u'\r') + m_store->readError(),
            programTitle(), UserPrompts::Buttons::Ok, UserPrompts::Icon::Critical);
        return false;
    }
    m_settings.Filename = defaultLogFile();
    m_settings.Decay = 5;

    // The window's laid-out size and place are the defaults of the stored layout.
    readLayoutFromWindow();
    WindowState state = storedWindowState();
    read_registry(*m_store, m_table, m_settings, state, defaultLogFile());
    m_desktop = readDesktopSettings(*m_store);
    if (QAction *history = action("opthistory"))
        history->setChecked(m_desktop.History);
    applyWindowState(state);
    if (state.Details) {
        m_layout.detailsVisible = m_layout.splitterVisible = true;
        movebar(static_cast<int>(state.Split) + 120);
    }
    updateLogFileCaption();
    m_grid->load_display();
    show();
    // The splash closes itself after a while, or on a key or a click; until then it stays
    // in front of the window that has just appeared.
    if (splash)
        splash->raise();
    m_monitor->setMonitoringEnabled(action("optenable")->isChecked());
    if (m_monitor->monitoringEnabled())
        m_monitor->do_check();
    return true;
}

WindowState MainWindow::storedWindowState() const
{
    WindowState w;
    w.Width = m_layout.windowWidth;
    w.Height = m_layout.windowHeight;
    w.GHeight = m_layout.gridHeight;
    w.DHeight = m_layout.detailsHeight;
    w.DTop = m_layout.detailsTop;
    w.Left = m_layout.windowLeft;
    w.Top = m_layout.windowTop;
    w.Split = m_layout.splitTop;
    w.Col0 = columnWidthTwips(0);
    w.Col1 = columnWidthTwips(1);
    w.Col2 = columnWidthTwips(2);
    w.Details = m_layout.optdetails;
    w.Enable = action("optenable")->isChecked();
    w.LoggingEnabled = action("optenablelogging")->isChecked();
    return w;
}

void MainWindow::applyWindowState(const WindowState &w)
{
    const auto whole = [](double twips) { return static_cast<int>(std::lround(twips)); };
    m_layout.windowTop = whole(w.Top);
    m_layout.windowLeft = whole(w.Left);
    m_layout.optdetails = w.Details;
    m_layout.splitTop = whole(w.Split);
    m_layout.gridHeight = whole(w.GHeight);
    m_layout.detailsTop = whole(w.DTop);
    m_layout.detailsHeight = whole(w.DHeight);
    m_layout.windowHeight = whole(w.Height);
    m_layout.windowWidth = whole(w.Width);
    setColumnWidthTwips(0, w.Col0);
    setColumnWidthTwips(1, w.Col1);
    setColumnWidthTwips(2, w.Col2);
    action("optenable")->setChecked(w.Enable);
    action("optenablelogging")->setChecked(w.LoggingEnabled);
    action("optdetails")->setChecked(w.Details);
    action("optwarn")->setChecked(m_settings.Warn);
    m_lblcount->setText(delayCaption(m_settings.Delay));
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    move(twipsToPixels(m_layout.windowLeft, dpiX), twipsToPixels(m_layout.windowTop, dpiY));
    resizeWindowTwips(m_layout.windowWidth, m_layout.windowHeight);
}

void MainWindow::save_registry()
{
    readLayoutFromWindow();
    saveDesktopSettings(*m_store, m_desktop);
    ::sentrel::save_registry(*m_store, m_table, m_settings, storedWindowState());
}

void MainWindow::readLayoutFromWindow()
{
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    if (windowState().testFlag(Qt::WindowMinimized))
        m_layout.state = MainLayout::State::Minimised;
    else if (windowState().testFlag(Qt::WindowMaximized) || windowState().testFlag(Qt::WindowFullScreen))
        m_layout.state = MainLayout::State::Maximised;
    else
        m_layout.state = MainLayout::State::Normal;
    if (m_layout.state == MainLayout::State::Minimised)
        return;
    m_layout.windowLeft = pixelsToTwips(x(), dpiX);
    m_layout.windowTop = pixelsToTwips(y(), dpiY);
    m_layout.windowWidth = pixelsToTwips(width(), dpiX) + MainLayout::ChromeWidth;
    m_layout.windowHeight =
        pixelsToTwips(height() - menuBar()->sizeHint().height(), dpiY) + MainLayout::ChromeHeight;
}

void MainWindow::setOuterSizeTwips(int width, int height)
{
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    m_applyingLayout = true;
    resize(twipsToPixels(width - MainLayout::ChromeWidth, dpiX),
        twipsToPixels(height - MainLayout::ChromeHeight, dpiY) + menuBar()->sizeHint().height());
    m_applyingLayout = false;
}

void MainWindow::resizeWindowTwips(int width, int height)
{
    setOuterSizeTwips(width, height);
    readLayoutFromWindow();
    applyResizeRule(m_layout);
    applyLayout();
}

void MainWindow::applyLayout()
{
    const MainLayout &l = m_layout;
    const int labelHeight = std::max(255, pixelsToTwips(m_label1->sizeHint().height(), logicalDpiY()));
    placeTwips(m_label1, 120, 0, 1455, labelHeight);
    placeTwips(m_lblstat, 1560, 0, 1335, labelHeight);
    placeTwips(m_lblcount, 3000, 0, 1335, labelHeight);
    placeTwips(m_gridsys, 120, l.gridTop, l.gridWidth, std::max(0, l.gridHeight));
    const bool history = m_historyPanel && m_desktop.History && l.detailsVisible;
    // The history takes the right part of the details area, the text keeps the rest.
    const int textWidth = history ? std::max(1500, l.detailsWidth * 2 / 5) : l.detailsWidth;
    placeTwips(m_txtdata, 120, l.detailsTop, textWidth, std::max(0, l.detailsHeight));
    if (m_historyPanel) {
        placeTwips(m_historyPanel, 120 + textWidth + 60, l.detailsTop,
            std::max(0, l.detailsWidth - textWidth - 60), std::max(0, l.detailsHeight));
        m_historyPanel->setVisible(history);
    }
    placeTwips(m_cmdsize, 0, l.splitTop, 135, 195);
    m_txtdata->setVisible(l.detailsVisible);
    m_cmdsize->setVisible(l.splitterVisible);
    if (QAction *details = action("optdetails"))
        details->setChecked(l.optdetails);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_applyingLayout)
        return;
    readLayoutFromWindow();
    if (m_layout.state == MainLayout::State::Minimised)
        return;
    const int wantedWidth = m_layout.windowWidth;
    const int wantedHeight = m_layout.windowHeight;
    applyResizeRule(m_layout);
    if (m_layout.state == MainLayout::State::Normal
        && (m_layout.windowWidth != wantedWidth || m_layout.windowHeight != wantedHeight)) {
        resizeWindowTwips(m_layout.windowWidth, m_layout.windowHeight);
        return;
    }
    applyLayout();
}

void MainWindow::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    m_layout.windowLeft = pixelsToTwips(x(), logicalDpiX());
    m_layout.windowTop = pixelsToTwips(y(), logicalDpiY());
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        readLayoutFromWindow();
}

void MainWindow::movebar(int y)
{
    if (::sentrel::movebar(m_layout, y))
        applyLayout();
}

void MainWindow::dropSplitterAt(const QPoint &clientPos)
{
    // Dropped on the labels, on the splitter itself (a plain click) or outside the
    // client area, nothing happens; on the window, the grid or the details box the
    // border moves to the drop's height in the client area.
    if (!centralWidget()->rect().contains(clientPos))
        return;
    QWidget *target = centralWidget()->childAt(clientPos);
    if (target == m_label1 || target == m_lblstat || target == m_lblcount || target == m_cmdsize)
        return;
    movebar(pixelsToTwips(clientPos.y(), logicalDpiY()));
}

void MainWindow::toggle_details()
{
    readLayoutFromWindow();
    if (!::sentrel::toggle_details(m_layout))
        return;
    resizeWindowTwips(m_layout.windowWidth, m_layout.windowHeight);
}

void MainWindow::optsmall_Click()
{
    QAction *small = action("optsmall");
    readLayoutFromWindow();
    if (m_layout.state != MainLayout::State::Normal)
        return; // the window's size cannot change while it is maximised or minimised
    if (!small->isChecked()) {
        setGridFontSize(gridFontSize() / 2);
        enterSmallMode(m_layout);
        for (int c = 0; c < 3; ++c)
            setColumnWidthTwips(c, halveTwips(columnWidthTwips(c)));
    } else {
        leaveSmallMode(m_layout);
        setGridFontSize(gridFontSize() * 2);
        for (int c = 0; c < 3; ++c)
            setColumnWidthTwips(c, columnWidthTwips(c) * 2);
    }
    resizeWindowTwips(m_layout.windowWidth, m_layout.windowHeight);
    small->setChecked(!small->isChecked());
}

void MainWindow::edititem()
{
    const int index = m_grid->indexAt(m_grid->currentRow());
    if (!m_table.isValidIndex(index))
        return;
    m_monitor->pauseTimer();
    ConfigDialog dlg(m_table[static_cast<int16_t>(index)], *m_prompts, this);
    dlg.exec();
    // The table may have been replaced while the dialog was open.
    if (dlg.editAccepted() && m_table.isValidIndex(index)) {
        dlg.storeInto(m_table[static_cast<int16_t>(index)]);
        m_grid->load_display();
    }
    m_monitor->resumeTimer();
}

void MainWindow::runExport()
{
    exportSettings(m_table, *m_prompts, m_options.dataFolder);
}

void MainWindow::runImport()
{
    if (importSettings(m_table, *m_prompts, m_options.dataFolder))
        m_grid->load_display();
}

double MainWindow::gridFontSize() const
{
    return m_gridsys->font().pointSizeF();
}

void MainWindow::setGridFontSize(double points)
{
    QFont f = m_gridsys->font();
    f.setPointSizeF(std::max(1.0, points));
    m_gridsys->setFont(f);
    m_gridsys->verticalHeader()->setDefaultSectionSize(QFontMetrics(f).height() + 4);
}

int MainWindow::columnWidthTwips(int column) const
{
    // The header holds the width the user sees, dragged or not; the twips kept beside it
    // only stand in while they still give that width, so halving and doubling do not drift.
    const int pixels = m_gridsys->columnWidth(column);
    const double dpi = logicalDpiX();
    const int kept = m_columnTwips.at(static_cast<size_t>(column));
    return twipsToPixels(kept, dpi) == pixels ? kept : pixelsToTwips(pixels, dpi);
}

void MainWindow::setColumnWidthTwips(int column, int twips)
{
    m_columnTwips.at(static_cast<size_t>(column)) = twips;
    m_gridsys->setColumnWidth(column, twipsToPixels(twips, logicalDpiX()));
}

void MainWindow::updateLogFileCaption()
{
    action("optlogfile")->setText(logFileCaption(m_settings.Filename));
}

void MainWindow::syncViewToGrid(int row)
{
    m_syncingSelection = true;
    if (row >= 1) {
        const QModelIndex index = m_gridsys->model()->index(StatusGridModel::modelRow(row), 0);
        m_gridsys->setCurrentIndex(index);
        m_gridsys->scrollTo(index);
    } else {
        m_gridsys->setCurrentIndex({});
    }
    m_syncingSelection = false;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_gridsys || !m_txtdata)
        return QMainWindow::eventFilter(watched, event);
    if (watched == m_gridsys && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Delete:
            if (m_grid->currentRow() > 0)
                m_grid->delentry(*m_prompts);
            return true;
        case Qt::Key_Insert:
            m_grid->newentry();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            edititem();
            return true;
        default:
            break;
        }
    }
    if (watched == m_gridsys->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = m_gridsys->indexAt(mouse->position().toPoint());
        if (index.isValid())
            m_grid->setCurrentRow(StatusGridModel::gridRow(index.row()));
        if (m_grid->currentRow() > 0)
            edititem();
        return true;
    }
    if (watched == m_txtdata->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        toggle_details();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::optexit_Click()
{
    shutdown();
    close();
    // Closing a window hidden in the tray does not end the event loop by itself.
    QCoreApplication::quit();
}

void MainWindow::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (action("optsaveonexit")->isChecked())
        save_registry();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    shutdown();
    // Alert windows have no owner; they go with the program.
    for (const auto &alert : std::as_const(m_alerts))
        if (alert)
            alert->dismiss();
    if (m_groupAlert)
        m_groupAlert->acknowledge();
    event->accept();
}

QList<AlertWindow *> MainWindow::openAlerts() const
{
    QList<AlertWindow *> open;
    for (const auto &alert : m_alerts)
        if (alert)
            open << alert.data();
    return open;
}

void MainWindow::setStatusCaption(const QString &text)
{
    m_lblstat->setText(text);
}

void MainWindow::setCountCaption(const QString &text)
{
    m_lblcount->setText(text);
}

void MainWindow::setWindowIconImage(WindowIcon icon)
{
    switch (icon) {
    case WindowIcon::Busy:
        setWindowIcon(QIcon(QStringLiteral(":/icons/eye.svg")));
        break;
    case WindowIcon::Problem:
        setWindowIcon(QIcon(QStringLiteral(":/icons/exclamation.svg")));
        break;
    case WindowIcon::Idle:
        setWindowIcon(QIcon(QStringLiteral(":/icons/question.svg")));
        break;
    }
}

void MainWindow::setAbortEnabled(bool enabled)
{
    action("optabort")->setEnabled(enabled);
}

void MainWindow::setLogCommandsEnabled(bool enabled)
{
    for (const char *name : {"optenablelogging", "optlogswitch", "optlogclear"})
        action(name)->setEnabled(enabled);
}

void MainWindow::beep()
{
    QApplication::beep();
}

GroupAlertWindow *MainWindow::groupAlert() const
{
    return m_groupAlert.data();
}

void MainWindow::raiseAlert(const ProblemAlert &problem)
{
    if (m_desktop.Notify && m_desktop.GroupAlerts)
        m_groupNotification->add(problem);
    else if (m_desktop.Notify)
        m_notifier->notify(notificationSummary(problem), notificationBody(problem, QLocale::system()),
            problem.status == TargetStatus::Down);
    if (m_desktop.GroupAlerts) {
        if (!m_groupAlert) {
            m_groupAlert = new GroupAlertWindow;
            centreOnScreen(m_groupAlert);
        }
        m_groupAlert->add(problem);
        return;
    }
    auto *alert = new AlertWindow(problem.desc);
    m_alerts.removeAll(nullptr);
    // Cascaded from the screen's centre, so that several alerts stay readable.
    alert->adjustSize();
    centreOnScreen(alert);
    const int step = static_cast<int>(m_alerts.size() % 10) * 24;
    alert->move(alert->pos() + QPoint(step, step));
    m_alerts << alert;
    alert->showOnTop();
}

} // namespace sentrel
