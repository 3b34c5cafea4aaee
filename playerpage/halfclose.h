#pragma once
// Ends the sending half of a connected socket (its peer reads the end of
// the stream) while what the peer still sends can be read. Qt's sockets
// cannot say this; the page's server needs it to answer a client that is
// still sending. False when the system refused.

#include <QtGlobal>

namespace player {

bool stopSendingOn(qintptr socketDescriptor);

} // namespace player
