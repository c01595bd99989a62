#include "ui/GridColours.h"

#include "engine/StatusGrid.h"
#include "engine/Target.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace sentrel {

namespace {

double channel(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor &c)
{
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableWindowText(const QColor &windowText, const QColor &background)
{
    return contrastRatio(windowText, background) >= MinTextContrast ? windowText : QColor(Qt::black);
}

QColor readableStatusText(const QColor &text, const QColor &background)
{
    QColor shown = text;
    for (int step = 1; contrastRatio(shown, background) < MinTextContrast && step < 256; ++step) {
        const double keep = 1.0 - step / 255.0;
        shown = QColor::fromRgbF(static_cast<float>(text.redF() * keep),
            static_cast<float>(text.greenF() * keep), static_cast<float>(text.blueF() * keep));
    }
    return shown;
}

QColor statusMarkColour(int16_t status)
{
    const RowColours colours = statusColours(status);
    switch (status) {
    case TargetStatus::Ok:
        return QColor::fromRgb(static_cast<QRgb>(colours.text));
    case TargetStatus::Warning:
    case TargetStatus::Down:
        return QColor::fromRgb(static_cast<QRgb>(colours.background));
    default:
        return QColor(Qt::gray);
    }
}

GridColourProxy::GridColourProxy(QWidget *view)
    : QIdentityProxyModel(view)
    , m_view(view)
{ }

QVariant GridColourProxy::data(const QModelIndex &index, int role) const
{
    if (role != Qt::ForegroundRole && role != Qt::BackgroundRole)
        return QIdentityProxyModel::data(index, role);
    const QVariant text = QIdentityProxyModel::data(index, StatusGridModel::TextColourRole);
    const QVariant back = QIdentityProxyModel::data(index, StatusGridModel::BackgroundColourRole);
    const QVariant own = role == Qt::ForegroundRole ? text : back;
    if (!own.isValid())
        return {};
    const QColor windowText =
        (m_view ? m_view->palette() : QApplication::palette()).color(QPalette::WindowText);
    const auto colourOf = [&windowText](quint32 value) {
        return value == GridColour::WindowText ? windowText : QColor::fromRgb(static_cast<QRgb>(value));
    };
    const QColor colour = colourOf(own.value<quint32>());
    if (role != Qt::ForegroundRole || !back.isValid())
        return QBrush(colour);
    const QColor background = colourOf(back.value<quint32>());
    if (own.value<quint32>() == GridColour::WindowText)
        return QBrush(readableWindowText(colour, background));
    // Only OK's green is made darker: DOWN's white on red cannot be helped by darkening.
    if (own.value<quint32>() == statusColours(TargetStatus::Ok).text)
        return QBrush(readableStatusText(colour, background));
    return QBrush(colour);
}

StatusRowDelegate::StatusRowDelegate(int firstColumn, int lastColumn, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_firstColumn(firstColumn)
    , m_lastColumn(lastColumn)
{ }

void StatusRowDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    QStyleOptionViewItem plain(option);
    plain.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    // The view has already filled a selected row with the highlight; a cell without a status
    // colour of its own goes back to the plain background under the frame.
    if (selected && !index.data(Qt::BackgroundRole).isValid())
        painter->fillRect(option.rect, option.palette.brush(QPalette::Base));
    QStyledItemDelegate::paint(painter, plain, index);
    if (!selected)
        return;
    const QRect r = option.rect;
    const QColor frame = option.palette.color(QPalette::Active, QPalette::Highlight);
    const int w = FrameWidth;
    painter->save();
    painter->fillRect(QRect(r.left(), r.top(), r.width(), w), frame);
    painter->fillRect(QRect(r.left(), r.bottom() - w + 1, r.width(), w), frame);
    if (index.column() == m_firstColumn)
        painter->fillRect(QRect(r.left(), r.top(), w, r.height()), frame);
    if (index.column() == m_lastColumn)
        painter->fillRect(QRect(r.right() - w + 1, r.top(), w, r.height()), frame);
    painter->restore();
}

} // namespace sentrel
