#pragma once
// The priority of the step clock's thread (see the sequencer's realtime.h):
// realtime scheduling where the process may have it, else the desktop's
// RealtimeKit, else normal priority; said once on standard error
// ("Step clock: realtime priority 10 (SCHED_FIFO)").

#include <functional>

namespace blinkwerk {

// What the step clock runs on its own thread when it first runs.
std::function<void()> clockPriority();

} // namespace blinkwerk
