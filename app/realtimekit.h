#pragma once
// The desktop's RealtimeKit (rtkit-daemon, over the system D-Bus), which
// grants realtime scheduling to a thread of an ordinary user's program, as
// audio programs ask it. Linux only; elsewhere it is never there.

#include <string>

namespace blinkwerk {

// Asks RealtimeKit to make the calling thread realtime. First limits the
// process's RLIMIT_RTTIME to what the daemon demands (a realtime thread that
// never sleeps is then stopped by the kernel instead of freezing the
// machine). True with what it got in said; false with why not. Waits for
// the daemon's answer (a second at most).
bool askRealtimeKit(std::string &said);

} // namespace blinkwerk
