#include "ui/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace sentrel {

int twipsToPixels(int twips, double dpi)
{
    return static_cast<int>(std::lround(twips * dpi / TwipsPerInch));
}

int pixelsToTwips(int pixels, double dpi)
{
    return static_cast<int>(std::lround(pixels * TwipsPerInch / dpi));
}

QRect twipsRect(int left, int top, int width, int height, double dpiX, double dpiY)
{
    // Converting both edges, not the width, keeps neighbours that touch in twips touching in pixels.
    const int x = twipsToPixels(left, dpiX);
    const int y = twipsToPixels(top, dpiY);
    return QRect(
        QPoint(x, y), QPoint(twipsToPixels(left + width, dpiX) - 1, twipsToPixels(top + height, dpiY) - 1));
}

QSize twipsSize(int width, int height, double dpiX, double dpiY)
{
    return QSize(twipsToPixels(width, dpiX), twipsToPixels(height, dpiY));
}

void placeTwips(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsRect(left, top, width, height, widget->logicalDpiX(), widget->logicalDpiY()));
}

void fixClientSizeTwips(QWidget *window, int width, int height)
{
    window->setFixedSize(twipsSize(width, height, window->logicalDpiX(), window->logicalDpiY()));
}

QPoint centredTopLeft(const QRect &screen, const QSize &window)
{
    return QPoint(screen.left() + (screen.width() - window.width()) / 2,
        screen.top() + (screen.height() - window.height()) / 2);
}

void centreOnScreen(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->move(centredTopLeft(screen->geometry(), window->frameGeometry().size()));
}

namespace ConfigLayout {

int widthAfterDetails(int width)
{
    return width <= WideThreshold ? WideWidth : NarrowWidth;
}

bool detailsShown(int width)
{
    return width > WideThreshold;
}

int clientWidth(int width)
{
    return width - BorderWidth;
}

} // namespace ConfigLayout

} // namespace sentrel
