#pragma once
// USB HID relay boards (vendor 0x16c0, product 0x05df, product string
// "USBRelay1", "USBRelay2", "USBRelay4" or "USBRelay8": the digit is the
// number of relays). A board is told apart from other devices with the same
// ids by its product string only; the manufacturer string varies.
//
// The board speaks feature report 0 with eight data bytes (hidapi puts the
// report id 0 in front: nine bytes each way):
//   set     FF n   relay n (1-based) on      FD n   relay n off
//           FE     all relays on             FC     all relays off
//   get     bytes 0..4 the board's serial (5 characters), byte 7 the relays
//           as a bitmask (bit k = relay k + 1)
// There is no command that sets all relays to a byte.
//
// What the backend holds: one open board (found by its serial) from the
// opener to its destruction, and the newest byte the sequencer asked for.
// When it binds: the opener finds the board, reads its serial and relay
// state, and from then on the backend talks to that board only.
//
// Sequencer role: out32 sends one report per relay that changes, or all-on /
// all-off followed by the relays that differ from that when that saves
// reports and switches no relay that keeps its state. Channels above the
// board's relay count are ignored (said once). inp32 returns what the board
// holds (0 while it is away). The destructor sends 0.
// Monitor role: inp32 reads the board's bitmask (one feature report); the
// backend never writes.
//
// Failures: a report that fails (board pulled out, or no or a wrong answer)
// is said once on stderr as "hidrelay:SERIAL: ..."; the backend then keeps
// the newest byte, and service() looks for the board again at most once a
// second; when it is back it gets the newest byte and that is said once.
// A board that stayed silent (a report that took the kernel's whole
// timeout) is looked for every 30 s instead, so that a mute board cannot
// stall the caller more than rarely. Every call is bounded by the kernel's
// timeout for HID control transfers (5 s).
// The opener returns null with a reason when no board, several boards (for
// an empty serial: their serials are named), no board with that serial, or
// no access (the reason names the udev rule) is found.

#include "outputkind.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

// The hidapi calls the backend makes: hidapi itself in hidrelay_hidapi.cpp,
// a model of the boards in tests.
class HidCalls
{
public:
    struct Device
    {
        std::string path;
        std::string product; // the USB product string
    };
    using Handle = void *;

    virtual ~HidCalls() = default;
    // Every HID device with these ids present now.
    virtual std::vector<Device> enumerate(std::uint16_t vendor, std::uint16_t product) = 0;
    // Null on failure; denied is set when the device exists but the user
    // may not open it.
    virtual Handle open(const std::string &path, bool &denied) = 0;
    // hidapi's semantics: data[0] is the report id; the count of bytes
    // sent or received, -1 on failure.
    virtual int sendFeatureReport(Handle device, const std::uint8_t *data, std::size_t length) = 0;
    virtual int getFeatureReport(Handle device, std::uint8_t *data, std::size_t length) = 0;
    virtual void close(Handle device) = 0;
    // The last failure's text, for device or (null) for enumerate and open.
    virtual std::string lastError(Handle device) = 0;
    virtual std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }
};

// The backend, the board spec names ("hidrelay:SERIAL", the board asked for
// its serial) and the lister over the given calls.
std::unique_ptr<PortBackend> openHidRelayOutput(HidCalls &calls, const OutputSpec &spec, OutputRole role,
                                                std::string &whyNot);
std::optional<std::string> identifyHidRelayOutput(HidCalls &calls, const OutputSpec &spec, std::string &whyNot);
void listHidRelayOutputs(HidCalls &calls, std::vector<OutputEntry> &entries);

// The same through hidapi (hidraw on Linux), initialised at the first call.
// A build without hidapi, or a hidapi that cannot start (as under wine),
// lists nothing and says so when asked to open.
std::unique_ptr<PortBackend> openHidRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);
std::optional<std::string> identifyHidRelayOutput(const OutputSpec &spec, std::string &whyNot);
void listHidRelayOutputs(std::vector<OutputEntry> &entries);

// The kind: hidrelay[:SERIAL].
extern const OutputKind hidRelayKind;

} // namespace portio
