#include "ui/AlertWindow.h"

#include "logging/LogWriter.h"
#include "ui/Fonts.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sentrel {

namespace {

// Return and Enter press Acknowledge from anywhere in the window: a list or a label that
// has the focus passes them on, and a plain widget has no default button to take them.
class AcknowledgeKeys : public QObject
{
public:
    AcknowledgeKeys(QWidget *window, QPushButton *button)
        : QObject(window)
        , m_button(button)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPushButton *m_button;
};

} // namespace

void setUpAlertWindow(QWidget *window, const QString &objectName)
{
    window->setObjectName(objectName);
    window->setWindowTitle(QStringLiteral("Problem Detected!"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setWindowIcon(QIcon(QStringLiteral(":/icons/exclamation.svg")));
}

QPushButton *layOutAlertWindow(QWidget *window, const QString &heading, QVBoxLayout *texts, QWidget *middle)
{
    auto *picture = new QLabel(window);
    picture->setObjectName(QStringLiteral("Picture2"));
    picture->setPixmap(QIcon(QStringLiteral(":/icons/exclamation.svg")).pixmap(48, 48));
    picture->setAlignment(Qt::AlignTop);

    auto *title = new QLabel(heading, window);
    title->setObjectName(QStringLiteral("Label1"));
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    title->setFont(big);
    texts->insertWidget(0, title);

    auto *ok = new QPushButton(QStringLiteral("Acknowledge"), window);
    ok->setObjectName(QStringLiteral("cmdok"));

    auto *top = new QHBoxLayout;
    top->addWidget(picture);
    top->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    auto *all = new QVBoxLayout(window);
    all->addLayout(top);
    if (middle)
        all->addWidget(middle, 1);
    all->addLayout(buttons);
    new AcknowledgeKeys(window, ok);
    return ok;
}

AlertWindow::AlertWindow(const QString &hostDescription, const QDateTime &raisedAt, const QLocale &locale)
    : QWidget(nullptr, AlertWindowFlags)
{
    setUpAlertWindow(this, QStringLiteral("frmalert"));

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

    auto *text = new QVBoxLayout;
    text->addWidget(host);
    text->addWidget(explain);
    text->addWidget(time);
    auto *ok = layOutAlertWindow(this, QStringLiteral("Host not responding!"), text, nullptr);
    connect(ok, &QPushButton::clicked, this, &AlertWindow::dismiss);
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
