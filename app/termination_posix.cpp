// POSIX side of the termination request: SIGINT, SIGTERM and SIGHUP (see
// terminationsignals.h) turned into a close of the window.

#include "termination.h"
#include "termination_common.h"
#include "terminationsignals.h"

#include <QWidget>

namespace blinkwerk {

void closeOnTerminationRequest(QWidget *window, std::function<void()> close)
{
    setTerminationTarget(window, std::move(close));
    onTerminationSignal(window, [] { endByTerminationRequest(); });
}

} // namespace blinkwerk
