#pragma once
// Priority for the thread that keeps time, where it is granted and never
// required. One file per platform.
//
// POSIX: the timer slack of the calling thread is set to 1 ns (Linux), then
// realtime scheduling (SCHED_FIFO) is asked for, which the system grants to
// root, to a process with CAP_SYS_NICE and to a user whose RLIMIT_RTPRIO
// allows it (a group "audio" with a limits.conf entry); where it is refused,
// askElsewhere (the desktop's RealtimeKit, see the programs) is tried.
// Windows: the thread runs at time-critical priority.
// Returns, in English words for one line on standard error, what the thread
// got: "realtime priority 10 (SCHED_FIFO)", or "normal priority (...why)".

#include <functional>
#include <string>

namespace sequencer {

struct Priority
{
    bool realtime = false;
    std::string said;
};

// askElsewhere: another way to realtime for this thread; true with what it
// got in said, or false with why not.
Priority raiseThisThread(const std::function<bool(std::string &said)> &askElsewhere = {});

} // namespace sequencer
