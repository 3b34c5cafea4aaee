// Measures the time from a tick (out32) to an emulated serial relay board
// holding the byte, over a real pseudo-terminal, for one relay and for all
// eight changing, per board type. Each change waits until the pause between
// frames is over, as steps of a pattern do; LCUS boards then take one frame
// per relay and pause, ICSE boards one byte for all eight.
//
// usage: serial_latency [changes per case]

#include "stats.h"

#include "outputs.h"
#include "portbackend.h"
#include "portio.h"
#include "serialboard.h"
#include "serialrelay.h"
#include "serialrelayprotocol.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool settle(testsupport::SerialBoard &board, std::uint8_t byte, int ms)
{
    const long long deadline = bench::nowNs() + ms * 1000000LL;
    while (board.relays() != byte) {
        if (bench::nowNs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int changes = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string link = "/tmp/blinkwerk-bench-serial-" + std::to_string(::getpid());
    for (const bool icse : {false, true}) {
        testsupport::SerialBoard board(icse ? testsupport::SerialBoard::Kind::Icse : testsupport::SerialBoard::Kind::Lcus);
        std::string error;
        if (!board.plugIn(link, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        portio::OutputSpec spec;
        spec.kind = "serial";
        spec.path = link;
        spec.protocol = icse ? portio::OutputSpec::SerialProtocol::Icse : portio::OutputSpec::SerialProtocol::Lcus;
        auto backend = portio::openSerialRelayOutput(spec, portio::OutputRole::Sequencer, error);
        if (!backend) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const std::uint8_t patterns[] = {0x01, 0xFF};
        for (std::uint8_t on : patterns) {
            std::vector<double> ms;
            std::uint8_t byte = 0;
            settle(board, 0, 3000);
            for (int i = 0; i < changes; ++i) {
                const long long pauseEnd = bench::nowNs() + (portio::SerialRelayGapMs + 5) * 1000000LL;
                while (bench::nowNs() < pauseEnd)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                byte = byte == 0 ? on : 0;
                const long long tick = bench::nowNs();
                backend->out32(portio::Lpt1DataPort, byte);
                if (!settle(board, byte, 3000)) {
                    std::fprintf(stderr, "the board did not take 0x%02X\n", byte);
                    return 1;
                }
                ms.push_back(double(board.changedAtNs() - tick) / 1e6);
            }
            const std::string what = std::string("serial ") + (icse ? "icse" : "lcus") + ", " +
                                     (on == 0x01 ? "1 relay" : "8 relays") + ", tick to board";
            bench::row(what + " median", bench::quantile(ms, 0.5), "ms");
            bench::row(what + " p99", bench::quantile(ms, 0.99), "ms");
        }
        backend.reset();
        board.unplug();
    }
    ::unlink(link.c_str());
    return 0;
}
