// The delay from a sender's step to a follower's output: one
// blinkwerk-player plays a pattern whose byte changes every step (50 ms)
// onto an sACN universe sent to 127.0.0.1; a second one follows that
// universe (--follow) onto a register file. Two outside observers: a
// packet socket on the loopback interface sees each of the sender's packets
// as it is sent (a thread here, at realtime priority where granted), and
// register_observer times every write to the follower's register. Each
// step's delay is from the sender's packet with new levels to the
// follower's next write.
//
// usage: follower_delay <blinkwerk-player> <steps>

#include "observer.h"
#include "stats.h"

#include "patternfile.h"
#include "sacnpacket.h"
#include "registerfile.h"
#include "sequencer.h"

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <pthread.h>
#include <sys/socket.h>

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

// Every sACN packet of universe sent on the loopback interface whose first
// eight levels differ from the packet before: the moment it was seen.
class PacketWatch
{
public:
    explicit PacketWatch(int universe)
        : m_universe(universe)
    {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
        if (m_fd < 0)
            return;
        sockaddr_ll on {};
        on.sll_family = AF_PACKET;
        on.sll_protocol = htons(ETH_P_IP);
        on.sll_ifindex = int(::if_nametoindex("lo"));
        timeval wake {0, 100000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&on), sizeof on) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_thread = std::thread([this] { run(); });
    }
    ~PacketWatch() { stop(); }
    bool watching() const { return m_fd >= 0; }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    const std::vector<long long> &changes() const { return m_changes; }

private:
    void run()
    {
        sched_param param {};
        param.sched_priority = 20;
        ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
        std::vector<std::uint8_t> last;
        std::uint8_t buffer[2048];
        while (!m_stop.load()) {
            sockaddr_ll from {};
            socklen_t size = sizeof from;
            const ssize_t got = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &size);
            const long long now = bench::nowNs();
            // A packet that lo passes twice has the same levels the second
            // time: only the first counts as a change.
            if (got <= 0)
                continue;
            const auto *ip = reinterpret_cast<const iphdr *>(buffer);
            const std::size_t ipSize = std::size_t(ip->ihl) * 4;
            if (ip->protocol != IPPROTO_UDP || std::size_t(got) < ipSize + sizeof(udphdr))
                continue;
            const auto *udp = reinterpret_cast<const udphdr *>(buffer + ipSize);
            if (ntohs(udp->dest) != portio::sacn::Port)
                continue;
            portio::sacn::DataPacket packet;
            const std::span<const std::uint8_t> payload(buffer + ipSize + sizeof(udphdr),
                                                        std::size_t(got) - ipSize - sizeof(udphdr));
            if (portio::sacn::parseDataPacket(payload, packet) != portio::sacn::ParseResult::Data
                || packet.universe != m_universe)
                continue;
            packet.levels.resize(8);
            if (packet.levels != last)
                m_changes.push_back(now);
            last = packet.levels;
        }
    }

    int m_universe;
    int m_fd = -1;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    std::vector<long long> m_changes;
};

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
    const int universeNumber = 30000 + ::getpid() % 9000;
    const std::string universe = "sacn:" + std::to_string(universeNumber);
    // Each player's page on an address of its own.
    const std::string followerPage = "127.0.0.1:" + std::to_string(20000 + ::getpid() % 20000);
    const std::string senderPage = "127.0.0.1:" + std::to_string(40001 + ::getpid() % 20000);
    const pid_t follower = startPlayer(player, followerRuntime,
                                       {"--follow", universe, "--output", "register:" + followed, "--listen", followerPage});
    std::this_thread::sleep_for(1s);
    bench::Observer observer({followed});
    PacketWatch packets(universeNumber);
    if (!packets.watching()) {
        std::fprintf(stderr, "follower_delay: no packet socket on lo (needs root)\n");
        stopPlayer(follower);
        return 1;
    }
    const pid_t sender = startPlayer(player, senderRuntime,
                                     {"--output", universe + "@127.0.0.1", "--step-time", "50", "--listen",
                                      senderPage, senderRuntime + "/bench.bw2"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 + 50 * steps));
    packets.stop();
    observer.stop();
    const long senderKb = bench::statusKb(sender, "VmHWM"), followerKb = bench::statusKb(follower, "VmHWM");
    stopPlayer(sender);
    stopPlayer(follower);

    const std::vector<long long> &sent = packets.changes();
    const std::vector<long long> followedAt = observer.times(0);
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
