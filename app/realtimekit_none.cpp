#include "realtimekit.h"

namespace blinkwerk {

bool askRealtimeKit(std::string &said)
{
    said = "RealtimeKit: not on this platform";
    return false;
}

} // namespace blinkwerk
