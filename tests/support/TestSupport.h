#pragma once

#include <QByteArray>
#include <QString>

namespace sentrel::test {

// Builds a text from Latin-1 bytes, so tests can spell CR, LF, EOT and NUL literally.
inline QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace sentrel::test
