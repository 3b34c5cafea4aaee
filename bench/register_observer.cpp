// The outside observer: a process of its own that times every write to one
// or more register files, as a probe on the wires would, without touching
// the program that writes them. It waits on inotify (every pwrite of a
// register gives IN_MODIFY) and notes the moment each event was read, on the
// monotonic clock the programs use too. It asks for realtime priority above
// the step clock's (SCHED_FIFO 20; the clock asks for 10), so that a busy
// machine delays the observer less than what it observes; where refused it
// runs as it is.
//
// Writes "<file index> <ns>" lines to <out> when it gets SIGTERM or SIGINT.
// A line "ready" goes to standard output once every file is watched.
//
// usage: register_observer <out> <register>...

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sched.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void stop(int)
{
    g_stop = 1;
}

long long monotonicNs()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: register_observer <out> <register>...\n");
        return 2;
    }
    sched_param param {};
    param.sched_priority = 20;
    ::sched_setscheduler(0, SCHED_FIFO, &param);

    // Without SA_RESTART: the signal ends the blocking read.
    struct sigaction action {};
    action.sa_handler = stop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    const int fd = ::inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        std::perror("register_observer: inotify_init1");
        return 1;
    }
    std::vector<int> watches;
    for (int i = 2; i < argc; ++i) {
        const int wd = ::inotify_add_watch(fd, argv[i], IN_MODIFY);
        if (wd < 0) {
            std::fprintf(stderr, "register_observer: cannot watch %s\n", argv[i]);
            return 1;
        }
        watches.push_back(wd);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<std::pair<int, long long>> seen;
    seen.reserve(100000);
    alignas(inotify_event) char buffer[4096];
    while (!g_stop) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        const long long now = monotonicNs();
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        for (char *p = buffer; p < buffer + got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            for (std::size_t i = 0; i < watches.size(); ++i)
                if (watches[i] == event->wd)
                    seen.emplace_back(int(i), now);
            p += sizeof(inotify_event) + event->len;
        }
    }
    std::FILE *out = std::fopen(argv[1], "w");
    if (!out)
        return 1;
    for (const auto &[index, ns] : seen)
        std::fprintf(out, "%d %lld\n", index, ns);
    std::fclose(out);
    return 0;
}
