#include "probes/WireText.h"

namespace sentrel {

QString decodeReply(QByteArrayView bytes)
{
    // A sequence cut short at the end is invalid too, so a Latin-1 banner ending in "\xC3"
    // still reads as it always did.
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

QString withoutControls(QStringView text)
{
    QString out = text.toString();
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F))
            c = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

} // namespace sentrel
