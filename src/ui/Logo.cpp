#include "ui/Logo.h"

#include <QPainter>
#include <QPainterPath>

// Static libraries drop resources nobody refers to; this refers to them.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace sentrel {

QPixmap programLogo(int pixels)
{
    QPixmap logo(pixels, pixels);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = pixels;
    painter.setPen(QPen(QColor(0, 90, 0), s / 24));
    painter.setBrush(QColor(40, 170, 60));
    painter.drawEllipse(QRectF(s * 0.05, s * 0.05, s * 0.9, s * 0.9));
    QPainterPath pulse;
    pulse.moveTo(s * 0.15, s * 0.55);
    pulse.lineTo(s * 0.38, s * 0.55);
    pulse.lineTo(s * 0.47, s * 0.25);
    pulse.lineTo(s * 0.57, s * 0.78);
    pulse.lineTo(s * 0.65, s * 0.50);
    pulse.lineTo(s * 0.85, s * 0.50);
    painter.setPen(QPen(Qt::white, s / 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(pulse);
    return logo;
}

QIcon programIcon()
{
    initIconResources();
    return QIcon(QStringLiteral(":/icons/sentrel.svg"));
}

} // namespace sentrel
