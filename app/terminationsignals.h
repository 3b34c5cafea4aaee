#pragma once
// POSIX termination signals (SIGINT, SIGTERM, SIGHUP) turned into a call on
// a thread that runs an event loop. The signal handler itself only writes a
// byte to a socket pair (the only async-signal-safe step): without ever
// blocking (a burst of signals on a full socket loses nothing that matters,
// one byte is enough) and keeping errno for the code it interrupted.
// Needs Qt Core only, so that the player without a window uses it too.

#include <functional>

class QObject;

namespace blinkwerk {

// From now on a termination signal calls handler on context's thread; a
// later call replaces the earlier one.
void onTerminationSignal(QObject *context, std::function<void()> handler);

} // namespace blinkwerk
