#pragma once

#include <QIcon>
#include <QPixmap>

namespace sentrel {

// The program's logo, a square of the given size in pixels: a green disc with a pulse line.
QPixmap programLogo(int pixels);

// The program's icon, as its windows, the desktop entry and the About window show it.
QIcon programIcon();

} // namespace sentrel
