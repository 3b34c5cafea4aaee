// The text after "ftdi" in an output's name, read and written.

#include "ftdikind.h"

#include <algorithm>
#include <cctype>

namespace portio {

namespace {

constexpr std::size_t MaxSerial = 32;

bool digits(std::string_view text)
{
    return !text.empty()
           && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// "BUS-PORT[.PORT...]", each a decimal number.
bool usbPort(std::string_view text)
{
    const auto dash = text.find('-');
    if (dash == std::string_view::npos || !digits(text.substr(0, dash)))
        return false;
    std::string_view ports = text.substr(dash + 1);
    for (;;) {
        const auto dot = ports.find('.');
        if (!digits(ports.substr(0, dot)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        ports.remove_prefix(dot + 1);
    }
}

} // namespace

bool parseFtdiSpec(std::string_view rest, OutputSpec &spec, std::string &error)
{
    if (rest.empty()) {
        spec.serial.clear();
        return true;
    }
    if (rest[0] != ':') {
        error = "ftdi takes nothing or :SERIAL after its name";
        return false;
    }
    const std::string_view serial = rest.substr(1);
    if (serial.empty()) {
        error = "ftdi: the serial after the colon is missing";
        return false;
    }
    if (serial.size() > MaxSerial) {
        error = "ftdi: a serial has at most 32 characters";
        return false;
    }
    if (!std::all_of(serial.begin(), serial.end(), [](char c) { return c >= 0x21 && c <= 0x7e; })) {
        error = "ftdi: a serial has visible ASCII characters only";
        return false;
    }
    if (serial[0] == '@' && !usbPort(serial.substr(1))) {
        error = "ftdi: a USB port is written @BUS-PORT, e.g. @1-1.2";
        return false;
    }
    spec.serial = std::string(serial);
    return true;
}

std::string formatFtdiSpec(const OutputSpec &spec)
{
    return spec.serial.empty() ? std::string() : ":" + spec.serial;
}

} // namespace portio
