#include "ui/WrappedCheckBox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace sentrel {

WrappedCheckBox::WrappedCheckBox(const QString &text, QWidget *parent)
    : QCheckBox(text, parent)
{ }

QRect WrappedCheckBox::textRect() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
    return QRect(indicator.right() + 1 + spacing, 0, width() - indicator.right() - 1 - spacing, height());
}

void WrappedCheckBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The style draws the indicator and the focus frame; the caption is drawn here, wrapped.
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_CheckBox, option);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    painter.drawItemText(textRect(), flags, option.palette, isEnabled(), caption, QPalette::WindowText);
}

bool WrappedCheckBox::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

} // namespace sentrel
