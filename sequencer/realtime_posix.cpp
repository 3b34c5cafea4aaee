#include "realtime.h"

#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace sequencer {

namespace {

// Above the threads of a desktop's own realtime users' defaults, well below
// the kernel's own.
constexpr int FifoPriority = 10;

void smallTimerSlack()
{
#ifdef PR_SET_TIMERSLACK
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

} // namespace

Priority raiseThisThread(const std::function<bool(std::string &said)> &askElsewhere)
{
    smallTimerSlack();
    sched_param param {};
    param.sched_priority = FifoPriority;
    const int result = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
    if (result == 0)
        return {true, "realtime priority " + std::to_string(FifoPriority) + " (SCHED_FIFO)"};
    std::string why = std::string("SCHED_FIFO: ") + std::strerror(result);
    std::string said;
    if (askElsewhere) {
        if (askElsewhere(said))
            return {true, said};
        why += "; " + said;
    }
    return {false, "normal priority (" + why + ")"};
}

} // namespace sequencer
