// The network outputs' cost and latency, over loopback:
//   - tick to packet: from out32 to the datagram's arrival at a socket of
//     this process, median and 99th percentile;
//   - packet to lamps: from a packet's send to the listener's inp32 showing
//     it, with inp32 called every 10 ms as the monitor does;
//   - CPU time of the sender stepping every 50 ms and of the listener taking
//     44 packets a second (a full-rate DMX source), each over the CPU time of
//     a bare loop waking 100 times a second.
//
// usage: net_bench [seconds per CPU measure] [changes]

#include "stats.h"

#include "netoutput.h"
#include "outputs.h"
#include "portbackend.h"
#include "portio.h"
#include "sacnpacket.h"

#include <QCoreApplication>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <random>
#include <thread>

namespace {

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Sleeps to the next multiple of periodNs after start.
void sleepToNext(long long start, long long periodNs, long long &next)
{
    next += periodNs;
    timespec t{time_t(next / 1000000000), long(next % 1000000000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
    (void)start;
}

// CPU seconds of this thread over seconds of a 100 Hz loop calling body each tick.
template <typename Body>
double loopCpu(int seconds, Body body)
{
    const double before = threadCpuSeconds();
    long long next = bench::nowNs();
    const long long start = next;
    for (int tick = 0; tick < seconds * 100; ++tick) {
        sleepToNext(start, 10000000, next);
        body(tick);
    }
    return threadCpuSeconds() - before;
}

std::unique_ptr<portio::PortBackend> open(const char *text, portio::OutputRole role)
{
    std::string error;
    const auto spec = portio::parseOutputSpec(text, error);
    return portio::openNetOutput(portio::NetProtocol::Sacn, *spec, role, error);
}

int rawSocket(std::uint16_t &port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int changes = argc > 2 ? std::atoi(argv[2]) : 500;

    // Tick to packet: the receiver is a plain socket this thread blocks on.
    std::uint16_t port = 0;
    const int wire = rawSocket(port);
    portio::setNetPortForTesting(portio::NetProtocol::Sacn, port);
    std::vector<double> toWire;
    {
        auto sender = open("sacn:1@127.0.0.1", portio::OutputRole::Sequencer);
        char buffer[1024];
        for (int i = 0; i < changes; ++i) {
            const long long t0 = bench::nowNs();
            sender->out32(portio::Lpt1DataPort, std::int16_t(1 + i % 200));
            ::recv(wire, buffer, sizeof buffer, 0);
            toWire.push_back(double(bench::nowNs() - t0) / 1e3);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ::close(wire);
    bench::row("sACN tick to packet on loopback, median", bench::quantile(toWire, 0.5), "µs");
    bench::row("sACN tick to packet on loopback, p99", bench::quantile(toWire, 0.99), "µs");

    // Packet to lamps: a thread sends raw packets at random moments; this
    // one polls the listener every 10 ms like the monitor.
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const std::uint16_t listenPort = probe.localPort();
    probe.close();
    portio::setNetPortForTesting(portio::NetProtocol::Sacn, listenPort);
    auto listener = open("sacn:1", portio::OutputRole::Monitor);
    std::atomic<long long> sentAt{0};
    std::atomic<bool> stop{false};
    std::atomic<int> rateHz{0};
    std::thread source([&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(listenPort);
        portio::sacn::DataPacket p;
        p.levels.assign(512, 0);
        p.universe = 1;
        std::mt19937 random(1);
        for (std::uint8_t seq = 0; !stop; ++seq) {
            const int hz = rateHz;
            const auto pause = hz ? std::chrono::microseconds(1000000 / hz)
                                  : std::chrono::microseconds(40000 + random() % 40000);
            std::this_thread::sleep_for(pause);
            p.sequence = seq;
            p.levels[0] = p.levels[0] ? 0 : 255;
            const auto bytes = portio::sacn::buildDataPacket(p);
            sentAt = bench::nowNs();
            ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        }
        ::close(fd);
    });
    std::vector<double> toLamps;
    int shown = 0;
    loopCpu(std::max(3, changes * 60 / 1000), [&](int tick) {
        if (tick % 10 == 0)
            listener->service();
        const int byte = listener->inp32(portio::Lpt1DataPort);
        if (byte != shown) {
            toLamps.push_back(double(bench::nowNs() - sentAt) / 1e6);
            shown = byte;
        }
    });
    bench::row("sACN packet to lamps (10 ms polls), median", bench::quantile(toLamps, 0.5), "ms");
    bench::row("sACN packet to lamps (10 ms polls), p99", bench::quantile(toLamps, 0.99), "ms");

    // CPU: the bare loop, the listener at 44 packets a second, the sender at 50 ms steps.
    const double bare = loopCpu(seconds, [](int) {});
    rateHz = 44;
    const double listening = loopCpu(seconds, [&](int tick) {
        if (tick % 10 == 0)
            listener->service();
        listener->inp32(portio::Lpt1DataPort);
    });
    stop = true;
    source.join();
    listener.reset();
    portio::setNetPortForTesting(portio::NetProtocol::Sacn, port);
    auto sender = open("sacn:1@127.0.0.1", portio::OutputRole::Sequencer);
    const double sending = loopCpu(seconds, [&](int tick) {
        if (tick % 5 == 0)
            sender->out32(portio::Lpt1DataPort, std::int16_t(tick / 5 % 256));
        if (tick % 10 == 0)
            sender->service();
    });
    bench::row("bare 100 Hz loop, CPU", 100 * bare / seconds, "%");
    bench::row("sACN listener, 44 pkt/s: CPU vs bare loop", listening / bare, "x");
    bench::row("sACN sender, 50 ms steps: CPU vs bare loop", sending / bare, "x");
    return 0;
}
