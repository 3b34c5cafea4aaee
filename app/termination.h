#pragma once
// Turns a termination request (SIGINT, SIGTERM, SIGHUP; Ctrl+C or a console
// close on Windows) into a close of the given window, so that the program
// ends the way a click on the close box ends it. For blinkwerk that matters:
// its close handling switches the relays off, which a killed process would
// leave as the last step set them.

class QWidget;

namespace blinkwerk {

void closeOnTerminationRequest(QWidget *window);

} // namespace blinkwerk
