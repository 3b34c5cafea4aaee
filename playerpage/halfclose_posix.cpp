#include "halfclose.h"

#include <sys/socket.h>

namespace player {

bool stopSendingOn(qintptr socketDescriptor)
{
    return socketDescriptor >= 0 && ::shutdown(int(socketDescriptor), SHUT_WR) == 0;
}

} // namespace player
