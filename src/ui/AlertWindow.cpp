#include "ui/AlertWindow.h"

#include "logging/LogWriter.h"
#include "ui/Fonts.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sentrel {

AlertWindow::AlertWindow(const QString &hostDescription, const QDateTime &raisedAt, const QLocale &locale)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("frmalert"));
    setWindowTitle(QStringLiteral("Problem Detected!"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowIcon(QIcon(QStringLiteral(":/icons/exclamation.svg")));

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Picture2"));
    picture->setPixmap(QIcon(QStringLiteral(":/icons/exclamation.svg")).pixmap(48, 48));
    picture->setAlignment(Qt::AlignTop);

    auto *heading = new QLabel(QStringLiteral("Host not responding!"), this);
    heading->setObjectName(QStringLiteral("Label1"));
    QFont big = heading->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    heading->setFont(big);

    auto *host = new QLabel(hostDescription, this);
    host->setObjectName(QStringLiteral("lblhostname"));
    QFont bold = host->font();
    bold.setBold(true);
    host->setFont(bold);
    host->setTextFormat(Qt::PlainText);

    auto *explain =
        new QLabel(QStringLiteral("The following host is not responding to enquiried from the sentrel "
                                  "program.  For further information, check the Details box for this "
                                  "host."),
            this);
    explain->setObjectName(QStringLiteral("Label2"));
    explain->setWordWrap(true);

    auto *time = new QLabel(timeText(raisedAt, locale), this);
    time->setObjectName(QStringLiteral("lbltime"));

    auto *ok = new QPushButton(QStringLiteral("Acknowledge"), this);
    ok->setObjectName(QStringLiteral("cmdok"));
    connect(ok, &QPushButton::clicked, this, &AlertWindow::dismiss);

    auto *text = new QVBoxLayout;
    text->addWidget(heading);
    text->addWidget(host);
    text->addWidget(explain);
    text->addWidget(time);
    auto *top = new QHBoxLayout;
    top->addWidget(picture);
    top->addLayout(text, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    auto *all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);
    setFixedWidth(twipsToPixels(5400, logicalDpiX()));
}

QString AlertWindow::timeText(const QDateTime &when, const QLocale &locale)
{
    return QStringLiteral("Date: ") + logShortDate(when.date(), locale) + QStringLiteral("  Time: ")
        + logLongTime(when.time(), locale);
}

void AlertWindow::showOnTop()
{
    show();
    raise();
}

void AlertWindow::dismiss()
{
    m_dismissed = true;
    close();
}

void AlertWindow::closeEvent(QCloseEvent *event)
{
    if (m_dismissed)
        event->accept();
    else
        event->ignore();
}

} // namespace sentrel
