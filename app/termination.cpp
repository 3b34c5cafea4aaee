#include "termination.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace blinkwerk {

namespace {
QPointer<QWidget> g_window;
}

#ifdef _WIN32

static BOOL WINAPI onConsoleControl(DWORD)
{
    // Runs on a thread of its own: hand the close to the window's thread.
    if (g_window)
        QMetaObject::invokeMethod(g_window.data(), "close", Qt::QueuedConnection);
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}

void closeOnTerminationRequest(QWidget *window)
{
    g_window = window;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

#else

namespace {
int g_pipe[2] = {-1, -1};

void onSignal(int)
{
    // Only async-signal-safe work here: one byte into the pipe.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}
} // namespace

void closeOnTerminationRequest(QWidget *window)
{
    g_window = window;
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(g_pipe[0], &byte, 1);
        if (g_window)
            g_window->close();
        // A modal box (a load error, say) would keep the program alive
        // after its window closed; quit() ends its event loop too.
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

#endif

} // namespace blinkwerk
