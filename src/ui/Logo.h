#pragma once

#include <QIcon>
#include <QPixmap>

namespace sentrel {

// The program's logo, a square of the given size in pixels: a green disc with a pulse line.
QPixmap programLogo(int pixels);

// The program's window icon, made from the logo.
QIcon programIcon();

} // namespace sentrel
