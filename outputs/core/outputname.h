#pragma once
// The output a user picks, as text (--output, BLINKWERK_OUTPUT, the
// remembered choice) and as data. Every output carries the same byte: bit k
// switches channel k + 1.
//
//   lpt1                          the first parallel port, else the simulated register
//   register:FILE                 a file as the register
//   hidrelay[:SERIAL]             a USB HID relay board (the only one, or the one with that serial)
//   serial:PORT[,lcus|,icse]      a serial relay board (LCUS-type by default)
//   gpio:CHIP:L1,...,L8[,active-low]  up to eight GPIO lines, channel 1 first
//   sacn:UNIVERSE[/START][@HOST]  sACN (E1.31), universe 1 to 63999
//   artnet:UNIVERSE[/START][@HOST]  Art-Net ArtDmx, universe 0 to 32767
//
// START is the first of eight consecutive slots, 1 to 505 (so that all
// eight lie inside the 512 slots of a universe); 1 when omitted.
// The kind's name is matched without regard to case; everything after the
// first colon is taken as written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portio {

struct OutputSpec
{
    enum class Kind { Lpt1, Register, HidRelay, Serial, Gpio, Sacn, ArtNet };
    enum class SerialProtocol { Lcus, Icse };

    Kind kind = Kind::Lpt1;
    std::string path;   // register: the file; serial: the port (COM3, /dev/ttyUSB0); gpio: the chip
    std::string serial; // hidrelay: the board's serial, empty for "the only board"
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

// The output that text names, or nothing with a reason (English, one phrase)
// in error. Checks every field: a number out of range, a missing part, an
// unknown kind or option and trailing text are refused.
std::optional<OutputSpec> parseOutputSpec(std::string_view text, std::string &error);

// The canonical text of a spec; parseOutputSpec(formatOutputSpec(s)) == s.
std::string formatOutputSpec(const OutputSpec &spec);

} // namespace portio
