// Windows side of the termination request. Today only the console-control
// handler; the session-end messages are still to come.

#include "termination.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace blinkwerk {

namespace {
QPointer<QWidget> g_window;

BOOL WINAPI onConsoleControl(DWORD)
{
    // Runs on a thread of its own: hand the close to the window's thread.
    if (g_window)
        QMetaObject::invokeMethod(g_window.data(), [] { closeForTermination(g_window.data()); },
                                  Qt::QueuedConnection);
    return TRUE;
}
} // namespace

void closeOnTerminationRequest(QWidget *window)
{
    g_window = window;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

} // namespace blinkwerk
