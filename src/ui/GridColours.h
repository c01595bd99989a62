#pragma once

#include <QColor>
#include <QIdentityProxyModel>
#include <QPointer>
#include <QStyledItemDelegate>

#include <cstdint>

namespace sentrel {

// The contrast ratio of two colours by their relative luminance as WCAG 2 defines it:
// 1 for equal colours up to 21 for black on white.
double contrastRatio(const QColor &a, const QColor &b);

// The least contrast at which the palette's window text is kept on a status background
// (the WCAG level for normal text).
constexpr double MinTextContrast = 4.5;

// The text colour for "window text" on background: the palette's window text wherever it
// reads on it (the desktop's usual dark text), black where a dark theme's light text would
// vanish on white or yellow.
QColor readableWindowText(const QColor &windowText, const QColor &background);

// A status colour used as text: kept where it reads on background, else darkened in steps,
// hue kept, until it does (OK's bright green on white becomes a deep green).
QColor readableStatusText(const QColor &text, const QColor &background);

// The one colour that tells a status apart, for marks that carry no text (the history's strip
// and charts): OK's green, WARNING's yellow, DOWN's red, and grey for no result.
QColor statusMarkColour(int16_t status);

// Turns the grid model's colour values into brushes. Only the widgets know the
// palette's window-text colour, so it is taken from the view at every call.
class GridColourProxy : public QIdentityProxyModel
{
public:
    explicit GridColourProxy(QWidget *view);

    QVariant data(const QModelIndex &index, int role) const override;

private:
    QPointer<QWidget> m_view;
};

// Paints a grid row in its status colours also while it is selected, and shows the
// selection as a frame around the row in the palette's highlight colour, so that the
// row that just raised an alert stays red.
class StatusRowDelegate : public QStyledItemDelegate
{
public:
    // Columns from first to last form the framed row.
    StatusRowDelegate(int firstColumn, int lastColumn, QObject *parent = nullptr);

    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Width of the selection frame in device-independent pixels.
    static constexpr int FrameWidth = 2;

private:
    int m_firstColumn;
    int m_lastColumn;
};

} // namespace sentrel
