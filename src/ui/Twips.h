#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace sentrel {

// Twips per inch: every size and place of the windows is kept in this unit.
constexpr int TwipsPerInch = 1440;

// Twips to whole pixels at a logical resolution (15 twips per pixel at 96 dpi), rounded.
int twipsToPixels(int twips, double dpi);

// Pixels to whole twips at a logical resolution, rounded.
int pixelsToTwips(int pixels, double dpi);

// A rectangle given in twips (left, top, width, height) in pixels.
QRect twipsRect(int left, int top, int width, int height, double dpiX, double dpiY);

// A size given in twips in pixels.
QSize twipsSize(int width, int height, double dpiX, double dpiY);

// Places a child widget at a rectangle in twips of its parent's client area, at the widget's logical dpi.
void placeTwips(QWidget *widget, int left, int top, int width, int height);

// Gives a window a fixed client size in twips, at its logical dpi.
void fixClientSizeTwips(QWidget *window, int width, int height);

// The top-left corner that centres a window on a screen: half of each free distance.
QPoint centredTopLeft(const QRect &screen, const QSize &window);

// Centres a window on the screen it is on (or the primary screen).
void centreOnScreen(QWidget *window);

// Layout rules of the Target definition dialog, in twips.
namespace ConfigLayout {
constexpr int NarrowWidth = 3465;
constexpr int WideWidth = 7545;
// The window is wide once it is more than this.
constexpr int WideThreshold = 7500;
// What the window's fixed border and frame take from its outer width.
constexpr int BorderWidth = 120;
constexpr int ClientHeight = 5265;

// The window width after pressing Details at a given width.
int widthAfterDetails(int width);
// Whether the user text and preset buttons are shown at a window width.
bool detailsShown(int width);
// The client width that belongs to an outer window width.
int clientWidth(int width);
} // namespace ConfigLayout

} // namespace sentrel
