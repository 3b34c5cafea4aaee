#pragma once
// FTDI bit-bang relay boards as an output kind: the functions the table of
// kinds points at. Its output names are "ftdi" followed by what formatFtdiSpec gives:
//
//   ftdi              the only board attached
//   ftdi:SERIAL       the board with that USB serial string (1 to 32 visible
//                     ASCII characters, as the board reports it)
//   ftdi:@BUS-PORT    the board in that USB port (as in /sys/bus/usb/devices,
//                     e.g. @1-1.2): for a board without a serial string, or
//                     one whose serial another board shares
//
// Boards: vendor 0x0403, product 0x6001 (FT245R and FT232R; see README.md),
// relay k + 1 on pin Dk, a 1 switching it on. The pins are read back (the
// monitor shows the board's own state). Every call may block, up to the
// bounds ftdirelay.h names, so callers run them off a window's thread.

#include "outputkind.h"
#include "outputname.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portio {

class PortBackend;

// rest: the output name after "ftdi": empty, or ":" and the serial (or "@" and a
// USB port). Fills spec.serial only; false with a reason (English, one
// phrase) in error for anything else.
bool parseFtdiSpec(std::string_view rest, OutputSpec &spec, std::string &error);

// "" or ":SERIAL": "ftdi" + the result is the canonical SPEC.
std::string formatFtdiSpec(const OutputSpec &spec);

// One entry per board present: {"ftdi:SERIAL", "FTDI-Relaiskarte
// (Seriennummer SERIAL)"}; a board without a serial string, or with a
// serial that another board present shares, by its USB port
// ("ftdi:@1-1.2"); a board this user may not open is listed too, saying
// that the udev rule is missing. Reads what the kernel keeps of each
// board (on Linux, sysfs): opens no board and sends it nothing.
void listFtdiOutputs(std::vector<OutputEntry> &entries);

// The board spec names, as the one name it has however it was named: its
// SPEC "ftdi:SERIAL", or "ftdi:@BUS-PORT" where the serial does not tell it
// apart. Nothing, with a reason in whyNot, when no board, several boards
// (spec without serial: they are named), no board by that name, or no
// access (the reason names the udev rule). Opens nothing for writing,
// switches nothing.
std::optional<std::string> identifyFtdiOutput(const OutputSpec &spec, std::string &whyNot);

// The backend for the board spec names (ftdirelay.h says what it does), or
// null with the reasons identifyFtdiOutput gives, or that the board is in
// use by another program or does not answer.
std::unique_ptr<PortBackend> openFtdiOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);

// The kind: ftdi[:SERIAL|:@PORT].
extern const OutputKind ftdiRelayKind;

} // namespace portio
