#pragma once

#include <QDateTime>
#include <QLocale>
#include <QWidget>

class QCloseEvent;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace sentrel {

// What every alert window shares: on top, no close button, deleted when closed, shown without
// taking focus, with the exclamation icon.
inline constexpr Qt::WindowFlags AlertWindowFlags =
    Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
void setUpAlertWindow(QWidget *window, const QString &objectName);
// The picture on the left, the texts beside it, middle (when given) below and the
// Acknowledge button centred at the bottom; the heading goes on top of the texts.
QPushButton *layOutAlertWindow(QWidget *window, const QString &heading, QVBoxLayout *texts, QWidget *middle);

// The problem alert (`frmalert`): names a Target and the time it was raised,
// stays on top without taking focus, and closes only by "Acknowledge".
class AlertWindow : public QWidget
{
    Q_OBJECT
public:
    explicit AlertWindow(const QString &hostDescription,
        const QDateTime &raisedAt = QDateTime::currentDateTime(), const QLocale &locale = QLocale::system());

    // Shows the window on top of all others at its own place, without activating it.
    void showOnTop();

    // Closes the window as "Acknowledge" does; for the program's end. Every other close,
    // the window manager's (Alt+F4) included, is refused.
    void dismiss();

    // "Date: " + short date + "  Time: " + long time without the time zone.
    static QString timeText(const QDateTime &when, const QLocale &locale);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_dismissed = false;
};

} // namespace sentrel
