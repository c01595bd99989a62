#include "ui/DesktopTray.h"

#include "engine/StatusGrid.h"
#include "logging/LogWriter.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace sentrel {

namespace {

class SystemTrayBackend : public TrayBackend
{
public:
    SystemTrayBackend()
    {
        QObject::connect(&m_icon, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason why) {
            if ((why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick) && activated)
                activated();
        });
    }
    void setIcon(const QIcon &icon) override { m_icon.setIcon(icon); }
    void setToolTip(const QString &text) override { m_icon.setToolTip(text); }
    void setContextMenu(QMenu *menu) override { m_icon.setContextMenu(menu); }
    void show() override { m_icon.show(); }
    void showMessage(const QString &title, const QString &body, bool critical) override
    {
        m_icon.showMessage(title, body, critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Warning);
    }
    bool isAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

private:
    QSystemTrayIcon m_icon;
};

} // namespace

QString countsText(const StatusCounts &s)
{
    QString text = QStringLiteral("%1 OK, %2 WARNING, %3 DOWN").arg(s.ok).arg(s.warning).arg(s.down);
    if (s.unknown)
        text += QStringLiteral(", %1 Unknown").arg(s.unknown);
    return text;
}

QString trayToolTip(const StatusCounts &summary, const QDateTime &lastCycle, bool busy, const QLocale &locale,
    bool monitoringOff)
{
    QString text = QStringLiteral("Sentrel\n");
    if (lastCycle.isValid())
        text +=
            countsText(summary) + QStringLiteral("\nLast cycle: ") + logLongTime(lastCycle.time(), locale);
    else
        text += QStringLiteral("No check cycle yet");
    if (busy)
        text += QStringLiteral("\nChecking...");
    if (monitoringOff)
        text += QStringLiteral("\nMonitoring is off");
    return text;
}

QImage trayImage(TrayLook look, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const RowColours colours = statusColours(look.worst);
    // The row's background except for OK, whose colour is its text's.
    const QColor fill = look.off ? QColor(150, 150, 150)
                                 : QColor::fromRgb(static_cast<QRgb>(
                                     look.worst == TargetStatus::Ok ? colours.text : colours.background));
    const qreal rim = std::max(1.0, size / 16.0);
    const QRectF disc = QRectF(0, 0, size, size).adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2);
    p.setPen(QPen(QColor(32, 32, 32), rim));
    p.setBrush(fill);
    p.drawEllipse(disc);
    if (look.busy) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(32, 32, 32));
        const qreal r = size * 0.2;
        p.drawEllipse(QPointF(size / 2.0, size / 2.0), r, r);
    }
    return image;
}

QIcon trayIcon(TrayLook look)
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(trayImage(look, size)));
    return icon;
}

std::unique_ptr<TrayBackend> makeSystemTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return nullptr;
    return std::make_unique<SystemTrayBackend>();
}

DesktopTray::DesktopTray(std::unique_ptr<TrayBackend> backend, QWidget *window, QAction *optupdate,
    QAction *optenable, QAction *optexit, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_window(window)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(QStringLiteral("mnutray"));
    auto *show = m_menu->addAction(QStringLiteral("Show Sentrel"));
    show->setObjectName(QStringLiteral("trayshow"));
    connect(show, &QAction::triggered, this, &DesktopTray::showWindow);
    auto *update = m_menu->addAction(QStringLiteral("Update now"));
    update->setObjectName(QStringLiteral("trayupdate"));
    connect(update, &QAction::triggered, optupdate, &QAction::trigger);
    auto *enable = m_menu->addAction(QStringLiteral("Sentrel enabled"));
    enable->setObjectName(QStringLiteral("trayenable"));
    enable->setCheckable(true);
    enable->setChecked(optenable->isChecked());
    // The window's item owns the switch; this one follows it.
    connect(enable, &QAction::triggered, optenable, [enable, optenable] {
        enable->setChecked(optenable->isChecked());
        optenable->trigger();
    });
    connect(optenable, &QAction::toggled, enable, &QAction::setChecked);
    m_look.off = !optenable->isChecked();
    connect(optenable, &QAction::toggled, this, [this](bool on) {
        m_look.off = !on;
        refresh();
    });
    m_menu->addSeparator();
    auto *exit = m_menu->addAction(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("trayexit"));
    connect(exit, &QAction::triggered, optexit, &QAction::trigger);

    m_backend->activated = [this] { showWindow(); };
    m_backend->setContextMenu(m_menu.get());
    if (m_window)
        m_window->installEventFilter(this);
    refresh();
    m_backend->show();
}

DesktopTray::~DesktopTray()
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_backend->setContextMenu(nullptr);
}

void DesktopTray::cycleStarted()
{
    m_look.busy = true;
    refresh();
}

void DesktopTray::cycleFinished(const TargetTable &table, const QDateTime &when)
{
    m_summary = countStatuses(table);
    m_lastCycle = when;
    m_look = TrayLook {m_summary.worst, false, m_look.off};
    refresh();
}

void DesktopTray::refresh()
{
    m_backend->setIcon(trayIcon(m_look));
    m_toolTip = trayToolTip(m_summary, m_lastCycle, m_look.busy, QLocale::system(), m_look.off);
    m_backend->setToolTip(m_toolTip);
}

void DesktopTray::showWindow()
{
    if (!m_window)
        return;
    QGuiApplication::setQuitOnLastWindowClosed(true);
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

bool DesktopTray::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowStateChange && m_window->isMinimized()
        && m_hideWhenMinimised && m_hideWhenMinimised() && m_backend->isAvailable()) {
        // Hidden once the state change is over, so the window manager sees a finished minimise.
        QTimer::singleShot(0, this, [this, w = m_window] {
            if (!w || !w->isMinimized() || !m_backend->isAvailable())
                return;
            // Acknowledging the last alert while the window is in the tray must not end the program.
            QGuiApplication::setQuitOnLastWindowClosed(false);
            w->hide();
        });
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sentrel
