#pragma once
// What the platform files of the termination request share: the window
// they watch and how it is closed.

#include <functional>

class QWidget;

namespace blinkwerk {

void setTerminationTarget(QWidget *window, std::function<void()> close);

// The watched window, or null once it is gone.
QWidget *terminationWindow();

// Closes the watched window the way it asked for, then ends the event loop,
// so that a modal box still open cannot keep the program alive after its
// window closed. Runs on the window's thread.
void endByTerminationRequest();

} // namespace blinkwerk
