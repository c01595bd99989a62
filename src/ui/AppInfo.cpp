#include <QString>

namespace sentrel {

// The program's version as the About window shows it.
QString programVersion()
{
    return QStringLiteral(SENTREL_VERSION);
}

} // namespace sentrel
