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
// Before it closes the window, the handler sets the window's dynamic
// property TerminationProperty to true. A window that refuses a close by the
// user (the disabled main window while its about dialog is open) must let
// such a close through.

class QWidget;

namespace blinkwerk {

inline constexpr const char *TerminationProperty = "blinkwerkTerminationRequested";

void closeOnTerminationRequest(QWidget *window);

// Marks window as closed by a termination request and closes it; then ends
// the event loop, so that a modal box still open cannot keep the program
// alive after its window closed. Runs on the window's thread.
void closeForTermination(QWidget *window);

} // namespace blinkwerk
