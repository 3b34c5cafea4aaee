// Drives one network output from a script, for the tests against a real
// receiver and sender (olad).
//   netdrive send SPEC   reads one byte (decimal) per line from standard
//                        input, writes it and answers "ok"; ends on "quit"
//                        or end of input, closing the output
//   netdrive watch SPEC  prints the byte the listener shows and its status
//                        whenever either changes; ends at end of input
// Both call service() every 100 ms like the programs do.

#include "netoutput.h"
#include "outputname.h"
#include "portbackend.h"
#include "portbackend.h"

#include <QCoreApplication>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const bool send = std::strcmp(argv[1], "send") == 0;
    std::string error;
    const auto spec = portio::OutputRegistry({&portio::sacnKind, &portio::artNetKind}).parse(argv[2], error);
    if (!spec) {
        std::fprintf(stderr, "netdrive: %s\n", error.c_str());
        return 2;
    }
    const auto protocol = spec->kind == "sacn" ? portio::NetProtocol::Sacn : portio::NetProtocol::ArtNet;
    auto backend = portio::openNetOutput(protocol, *spec, send ? portio::OutputRole::Sequencer
                                                               : portio::OutputRole::Monitor, error);
    if (!backend) {
        std::fprintf(stderr, "netdrive: %s\n", error.c_str());
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    auto serviced = Clock::now();
    int shown = -1;
    std::string shownStatus = "?";
    std::string line;
    for (;;) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&in, 1, send ? 100 : 10);
        if (ready > 0) {
            if (!std::getline(std::cin, line) || line == "quit")
                break;
            if (send) {
                backend->out32(portio::Lpt1DataPort, std::int16_t(std::stoi(line)));
                std::printf("ok\n");
                std::fflush(stdout);
            }
        }
        if (Clock::now() - serviced >= std::chrono::milliseconds(100)) {
            backend->service();
            serviced = Clock::now();
        }
        if (!send) {
            const int byte = backend->inp32(portio::Lpt1DataPort);
            const std::string status = backend->status();
            if (byte != shown || status != shownStatus) {
                std::printf("%d %s\n", byte, status.c_str());
                std::fflush(stdout);
                shown = byte;
                shownStatus = status;
            }
        }
    }
    backend.reset();
    return 0;
}
