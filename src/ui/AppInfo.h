#pragma once

#include <QString>

namespace sentrel {

// The program's version as the About and splash windows show it: "2.3.4".
QString programVersion();

} // namespace sentrel
