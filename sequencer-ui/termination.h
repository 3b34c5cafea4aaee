#pragma once
// Turns a termination request (SIGINT, SIGTERM, SIGHUP; Ctrl+C or a console
// close on Windows) into a close of the given window, so that its close
// handling runs (the sequencer's shut-down switches the relays off) before
// the program ends. Without it the relays would stay as the last step left
// them.

class QWidget;

namespace blinkwerk {

void closeOnTerminationRequest(QWidget *window);

} // namespace blinkwerk
