#pragma once
// Turns a termination request into a close of the given window, so that the
// program ends the way a click on the close box ends it. For blinkwerk that
// matters: its close handling switches the relays off, which a killed
// process would leave as the last step set them.
//
// Termination requests: SIGINT, SIGTERM and SIGHUP on POSIX; on Windows the
// end of the session (log off, shut down) and a close sent by the task
// manager. One file per platform implements this header.
//
// The close is the window's own: close() by default, or what the window
// offers for it (blinkwerk's main window lets such a close through while
// its about dialog has it disabled, which a close by the user is not).

#include <functional>

class QWidget;

namespace blinkwerk {

// window: the program's window, watched for the platform's requests; close:
// how a termination request closes it (window->close() when empty). Runs on
// the window's thread.
void closeOnTerminationRequest(QWidget *window, std::function<void()> close = {});

} // namespace blinkwerk
