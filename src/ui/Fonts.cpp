#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace sentrel {

static QFont withFallback(const QString &family, const QString &compatible, QFont::StyleHint hint,
    QFontDatabase::SystemFont system, qreal pointSize)
{
    QFont font(family);
    // Qt takes the first family that exists and uses the later ones for missing glyphs.
    font.setFamilies({family, compatible, QFontDatabase::systemFont(system).family()});
    font.setStyleHint(hint);
    font.setPointSizeF(pointSize);
    return font;
}

QFont arialFont(qreal pointSize)
{
    return withFallback(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QFont::SansSerif,
        QFontDatabase::GeneralFont, pointSize);
}

QFont courierNewFont(qreal pointSize)
{
    return withFallback(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QFont::Monospace,
        QFontDatabase::FixedFont, pointSize);
}

QFont dialogFont()
{
    return arialFont(8);
}

} // namespace sentrel
