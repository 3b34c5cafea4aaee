// POSIX side of the termination request: SIGINT, SIGTERM and SIGHUP are
// turned into a byte on a socket pair (the only async-signal-safe step),
// which the event loop picks up and turns into a close of the window.
// Both ends are non-blocking: a handler that finds the socket full (signals
// faster than the loop reads) leaves the request to the bytes already
// waiting instead of stopping the thread it interrupted, and the loop takes
// all waiting bytes at once.

#include "termination.h"
#include "termination_common.h"

#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace blinkwerk {

namespace {
int g_pipe[2] = {-1, -1};

void onSignal(int)
{
    // The interrupted code may be between a call and its look at errno.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

void closeOnTerminationRequest(QWidget *window, std::function<void()> close)
{
    setTerminationTarget(window, std::move(close));
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [] {
        char bytes[256];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        endByTerminationRequest();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace blinkwerk
