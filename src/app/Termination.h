#pragma once

#include <QObject>

#include <functional>

namespace sentrel {

// Runs onSignal from the event loop (never inside the signal handler) when SIGTERM, SIGINT
// or SIGHUP arrives. One handler per process; context ends it. False when it could not be
// installed, and the signals then keep their default action. A second signal, while the
// first is still being handled or after, ends the process at once by that signal.
bool onTermination(QObject *context, std::function<void()> onSignal);

} // namespace sentrel
