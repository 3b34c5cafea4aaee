// Plugs in an emulated USB HID relay board (uhidboard.h) and runs a program
// beside it, to try a program against a board where none is attached: inside
// tools/kernel-vm, for instance, as the host kernel lacks uhid.
//
//   uhidboard_run [PRODUCT SERIAL] -- PROGRAM [ARGS...]
//
// The board (USBRelay8, serial BW001 unless named) is in before the program
// starts, its hidraw node made, and is pulled out when the program has ended;
// the relays it then holds go to standard error. Exits with the program's
// status.
#include "uhidboard.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Whether the kernel has made a hidraw node, waiting up to five seconds.
bool hidrawAppears()
{
    for (int i = 0; i < 100; ++i) {
        std::error_code error;
        for (const auto &entry : std::filesystem::directory_iterator("/sys/class/hidraw", error))
            if (std::filesystem::exists("/dev" / entry.path().filename()))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    int program = 0;
    for (int i = 1; i < argc && !program; ++i)
        if (std::string(argv[i]) == "--")
            program = i + 1;
    if (!program || program >= argc || (program != 2 && program != 4)) {
        std::fprintf(stderr, "usage: uhidboard_run [PRODUCT SERIAL] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    portio::fakes::UhidBoard board(program == 4 ? argv[1] : "USBRelay8", program == 4 ? argv[2] : "BW001");
    std::string error;
    if (!board.plugIn(error) || !hidrawAppears()) {
        std::fprintf(stderr, "uhidboard_run: %s\n", error.empty() ? "no hidraw node appeared" : error.c_str());
        return 1;
    }
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[program], argv + program);
        std::perror("uhidboard_run: exec");
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::fprintf(stderr, "uhidboard_run: the board's relays: 0x%02X\n", unsigned(board.relays()));
    board.pullOut();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
