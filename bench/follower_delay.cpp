// The delay from a sender's step to a follower's output: one
// blinkwerk-player plays a pattern whose byte changes every step (50 ms)
// onto an sACN universe sent to 127.0.0.1; a second one follows that
// universe (--follow) onto a register file. The sender's bytes also go into
// the mirror register of its network output (written right after the
// packet is sent): the outside observer (register_observer) times every
// write to the mirror and to the follower's register, and each step's delay
// is the follower's write of that byte after the sender's.
//
// usage: follower_delay <blinkwerk-player> <steps>

#include "stats.h"

#include "patternfile.h"
#include "registerfile.h"
#include "sequencer.h"

#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <sys/prctl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

pid_t startPlayer(const std::string &program, const std::string &runtimeDir, const std::vector<std::string> &args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        std::vector<char *> argv {const_cast<char *>(program.c_str())};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

void stopPlayer(pid_t pid)
{
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: follower_delay <blinkwerk-player> <steps>\n");
        return 2;
    }
    const std::string player = argv[1];
    const int steps = std::max(10, std::atoi(argv[2]));
    QTemporaryDir senderDir, followerDir; // private (0700) runtime folders
    const std::string senderRuntime = senderDir.path().toStdString();
    const std::string followerRuntime = followerDir.path().toStdString();

    // Each step one channel more: channel 1 + step % 8.
    sequencer::Sequencer engine;
    for (int step = 0; step < 20; ++step)
        engine.setCell(1 + step % 8, step, 1);
    patterns::savePatternFile(engine, senderRuntime, "bench");

    const std::string followed = followerRuntime + "/register";
    std::string error;
    if (!portio::RegisterFile::openFile(followed, error)) {
        std::fprintf(stderr, "follower_delay: %s\n", error.c_str());
        return 1;
    }
    const std::string universe = "sacn:" + std::to_string(30000 + ::getpid() % 9000);
    const pid_t follower =
        startPlayer(player, followerRuntime, {"--follow", universe, "--output", "register:" + followed});
    std::this_thread::sleep_for(1s);
    const pid_t sender = startPlayer(player, senderRuntime,
                                     {"--output", universe + "@127.0.0.1", "--step-time", "50",
                                      senderRuntime + "/bench.bw2"});
    std::string mirror;
    for (int i = 0; i < 50 && mirror.empty(); ++i) {
        std::this_thread::sleep_for(100ms);
        for (const auto &entry : std::filesystem::directory_iterator(senderRuntime))
            if (entry.path().filename().string().rfind("blinkwerk-mirror-", 0) == 0)
                mirror = entry.path().string();
    }
    if (mirror.empty()) {
        std::fprintf(stderr, "follower_delay: the sender made no mirror register\n");
        stopPlayer(sender);
        stopPlayer(follower);
        return 1;
    }
    bench::Observer observer({mirror, followed});
    std::this_thread::sleep_for(std::chrono::milliseconds(50 * steps));
    observer.stop();
    const long senderKb = bench::statusKb(sender, "VmHWM"), followerKb = bench::statusKb(follower, "VmHWM");
    stopPlayer(sender);
    stopPlayer(follower);

    const std::vector<long long> sent = observer.times(0), followedAt = observer.times(1);
    std::vector<double> delays;
    int missed = 0;
    std::size_t j = 0;
    for (std::size_t i = 0; i + 1 < sent.size(); ++i) {
        while (j < followedAt.size() && followedAt[j] < sent[i])
            ++j;
        if (j < followedAt.size() && followedAt[j] < sent[i + 1])
            delays.push_back(double(followedAt[j] - sent[i]) / 1e6);
        else
            ++missed;
    }
    bench::row("follower: steps sent", double(sent.size()), "");
    bench::row("follower: steps not followed", missed, "", "0", missed == 0);
    bench::row("follower: delay sender step -> follower, median", bench::quantile(delays, 0.5), "ms");
    bench::row("follower: delay sender step -> follower, p99", bench::quantile(delays, 0.99), "ms");
    bench::row("follower: delay sender step -> follower, max", bench::quantile(delays, 1.0), "ms");
    bench::row("follower: peak memory of the sender (VmHWM)", double(senderKb) / 1024.0, "MiB");
    bench::row("follower: peak memory of the follower (VmHWM)", double(followerKb) / 1024.0, "MiB");
    return delays.empty() ? 1 : 0;
}
