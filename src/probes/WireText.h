#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace sentrel {

// A peer's reply as text: UTF-8 when the bytes are valid UTF-8 (the agent's own reports),
// otherwise one character per byte (Latin-1), as older agents and banners were always read.
QString decodeReply(QByteArrayView bytes);

// text with every character a terminal acts on (C0 controls other than tab, DEL and the C1
// controls) replaced by U+FFFD, so that printing it cannot move the cursor, retitle or
// recolour a terminal; everything else, tab included, stays as it is.
QString withoutControls(QStringView text);

} // namespace sentrel
