#include "ui/SplashWindow.h"

#include "engine/UserPrompts.h"
#include "ui/AboutDialog.h"
#include "ui/Fonts.h"
#include "ui/Logo.h"
#include "ui/Twips.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

namespace sentrel {

namespace {

QLabel *line(QWidget *parent, const char *name, const QString &text, qreal points, bool bold, int l, int t,
    int w, int h)
{
    auto *lbl = new QLabel(text, parent);
    lbl->setObjectName(QString::fromLatin1(name));
    QFont font = arialFont(points);
    font.setBold(bold);
    lbl->setFont(font);
    placeTwips(lbl, l, t, w, h);
    return lbl;
}

} // namespace

SplashWindow::SplashWindow(std::chrono::milliseconds shownFor, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(programTitle());
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);
    setFont(arialFont(8));

    auto *Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    placeTwips(Frame1, 120, 120, 6360, 3360);

    auto *imgLogo = new QLabel(Frame1);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    placeTwips(imgLogo, 360, 480, 1440, 1440);
    imgLogo->setPixmap(programLogo(imgLogo->width()));

    line(Frame1, "lblProductName", programTitle(), 28, true, 2160, 360, 3960, 840);
    line(Frame1, "lblVersion", versionText(), 12, false, 2160, 1260, 3960, 360);
    line(Frame1, "lblPlatform", QStringLiteral("Linux"), 12, false, 2160, 1680, 3960, 360);
    line(Frame1, "lblCompanyProduct", QStringLiteral("Network status monitor for TCP/IP hosts and services"),
        10, false, 360, 2400, 5760, 300);
    line(Frame1, "lblCopyright", QStringLiteral("Agent, port, ping and NetWare checks at a glance"), 8, false,
        360, 2820, 5760, 300);

    fixClientSizeTwips(this, 6600, 3600);
    centreOnScreen(this);

    m_shownFor = new QTimer(this);
    m_shownFor->setObjectName(QStringLiteral("shownFor"));
    m_shownFor->setSingleShot(true);
    m_shownFor->setInterval(shownFor);
    connect(m_shownFor, &QTimer::timeout, this, &QWidget::close);
}

void SplashWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_shownFor->start();
    // Keys reach the splash only while it has the focus.
    activateWindow();
    setFocus();
}

void SplashWindow::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    close();
}

void SplashWindow::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    close();
}

} // namespace sentrel
