#include "clockpriority.h"

#include "realtime.h"
#include "realtimekit.h"

#include <cstdio>

namespace blinkwerk {

std::function<void()> clockPriority()
{
    return [] {
        const sequencer::Priority got = sequencer::raiseThisThread(&askRealtimeKit);
        std::fprintf(stderr, "Step clock: %s\n", got.said.c_str());
        std::fflush(stderr);
    };
}

} // namespace blinkwerk
