#pragma once
// The output a user names, as data. Every output carries the same byte: bit
// k switches channel k + 1. As text (--output, BLINKWERK_OUTPUT, the
// remembered choice) a SPEC is the kind's name, then what that kind takes
// after a colon; each kind parses and formats its own part (see
// outputkind.h), with the helpers below. The kind's name is matched without
// regard to case; everything after the first colon is taken as written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portio {

// The fields the kinds fill; each kind uses those it needs and leaves the
// rest at their defaults, so that two specs of one output compare equal.
struct OutputSpec
{
    enum class SerialProtocol { Lcus, Icse };

    std::string kind = "lpt1"; // the kind's name, lower case
    std::string path;   // register: the file; serial: the port (COM3, /dev/ttyUSB0); gpio: the chip
    std::string serial; // hidrelay, ftdi: the board's serial, empty for "the only board"
    SerialProtocol protocol = SerialProtocol::Lcus;
    std::vector<unsigned> lines; // gpio: line offsets, channel 1 first, 1 to 8 of them, all different
    bool activeLow = false;      // gpio
    int universe = 0;            // sacn, artnet
    int start = 1;               // sacn, artnet: first slot
    std::string host;            // sacn, artnet: empty for multicast or broadcast

    bool operator==(const OutputSpec &) const = default;
};

inline constexpr int MaxChannels = 8;
inline constexpr int SlotsPerUniverse = 512;

// Helpers for the kinds' parsers.
namespace spectext {

std::string lower(std::string_view text);
// A whole decimal number from first to last, without sign or blanks.
std::optional<long> number(std::string_view text, long first, long last);
// Visible ASCII only: no blank, no control character.
bool visibleAscii(std::string_view text);
// No control character (C0, DEL): a path may hold blanks and UTF-8.
bool withoutControlCharacters(std::string_view text);
std::vector<std::string_view> split(std::string_view text, char separator);

} // namespace spectext

} // namespace portio
