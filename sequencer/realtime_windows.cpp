#include "realtime.h"

#include <windows.h>

namespace sequencer {

Priority raiseThisThread(const std::function<bool(std::string &said)> &)
{
    if (::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL))
        return {true, "time-critical thread priority"};
    return {false, "normal priority (SetThreadPriority: error " + std::to_string(::GetLastError()) + ")"};
}

} // namespace sequencer
