// Puts an emulated serial relay board behind a wine COM port and runs a
// program against it: the Linux side of the serial tests under wine.
//
//   serialboard_run lcus|icse comN STATEFILE -- PROGRAM [ARGS...]
//
// Links $WINEPREFIX/dosdevices/comN to a new pseudo-terminal with the board
// behind it, keeps STATEFILE holding the board's relays (a decimal number),
// and tells the program both through the environment: BLINKWERK_SERIAL_PORT
// (COMN), BLINKWERK_SERIAL_PROTOCOL (lcus or icse) and BLINKWERK_SERIAL_STATE
// (STATEFILE as wine names it, on drive Z:). Exits with the program's status.
#include "serialboard.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void writeState(const std::string &file, unsigned relays)
{
    const std::string temporary = file + ".new";
    if (FILE *out = std::fopen(temporary.c_str(), "w")) {
        std::fprintf(out, "%u\n", relays);
        std::fclose(out);
        std::rename(temporary.c_str(), file.c_str());
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 6 || std::string(argv[4]) != "--" || (std::string(argv[1]) != "lcus" && std::string(argv[1]) != "icse")) {
        std::fprintf(stderr, "usage: serialboard_run lcus|icse comN STATEFILE -- PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string protocol = argv[1], com = argv[2], state = argv[3];
    const char *prefix = std::getenv("WINEPREFIX");
    if (!prefix) {
        std::fprintf(stderr, "serialboard_run: WINEPREFIX is not set\n");
        return 2;
    }
    testsupport::SerialBoard board(protocol == "lcus" ? testsupport::SerialBoard::Kind::Lcus
                                                      : testsupport::SerialBoard::Kind::Icse);
    writeState(state, 0);
    board.onChange = [&](std::uint8_t relays) { writeState(state, relays); };
    std::string error;
    if (!board.plugIn(std::string(prefix) + "/dosdevices/" + com, error)) {
        std::fprintf(stderr, "serialboard_run: %s\n", error.c_str());
        return 1;
    }
    std::string port = com, windowsState = "Z:" + state;
    std::transform(port.begin(), port.end(), port.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    std::replace(windowsState.begin(), windowsState.end(), '/', '\\');
    ::setenv("BLINKWERK_SERIAL_PORT", port.c_str(), 1);
    ::setenv("BLINKWERK_SERIAL_PROTOCOL", protocol.c_str(), 1);
    ::setenv("BLINKWERK_SERIAL_STATE", windowsState.c_str(), 1);

    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[5], argv + 5);
        std::perror("serialboard_run: exec");
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    board.unplug();
    ::unlink((std::string(prefix) + "/dosdevices/" + com).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
