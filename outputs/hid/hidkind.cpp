#include "hidrelay.h"

namespace portio {

namespace {

bool parseHidRelay(std::string_view rest, OutputSpec &spec, std::string &error)
{
    if (rest.empty())
        return true;
    const std::string_view serial = rest.substr(1);
    if (serial.empty() || serial.size() > 16 || !spectext::visibleAscii(serial)) {
        error = "the board's serial after hidrelay: must be 1 to 16 printable characters";
        return false;
    }
    spec.serial = std::string(serial);
    return true;
}

std::string formatHidRelay(const OutputSpec &spec)
{
    return spec.serial.empty() ? std::string() : ":" + spec.serial;
}

} // namespace

// Every call is a USB control transfer that a mute board holds for the
// kernel's 5 s: a worker drives it.
const OutputKind hidRelayKind {"hidrelay", "hidrelay[:SERIAL]",
                               "a USB HID relay board: the only one attached, or the one with that serial",
                               parseHidRelay, formatHidRelay, listHidRelayOutputs, identifyHidRelayOutput,
                               openHidRelayOutput, /*readBack=*/true, /*mayBlock=*/true};

} // namespace portio
