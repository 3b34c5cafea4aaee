#pragma once
// FTDI bit-bang relay boards: eight relays on the eight data pins D0 to D7
// of an FT245R or FT232R (vendor 0x0403, product 0x6001), relay k + 1 on
// pin Dk, a 1 switching it on. The chip's asynchronous bit-bang mode makes
// the pins outputs: one byte written to the bulk OUT endpoint sets all
// eight at once, and the vendor request "read pins" returns their levels.
//
// What the backend holds: one open board from the opener to its
// destruction, found again by the name it was opened under (its serial,
// or its USB port where the serial does not tell it apart), and the newest
// byte the sequencer asked for.
//
// Sequencer role: the opener claims the board's interface (libftdi detaches
// the kernel's serial driver ftdi_sio from it, so its /dev/ttyUSBn goes
// away until the board is plugged in again), sets bit-bang mode with all
// eight pins as outputs and reads the pins. out32 writes the byte, one
// write of one byte per call, also when it did not change. inp32 and
// readPort return what was last written (nothing while the board is away).
// service checks a board that was not written to for a second by reading
// its pins: a board whose pins no longer hold the byte written (reset, or
// switched by another program) gets bit-bang mode and the newest byte
// again (said once). The destructor writes 0, in up to three tries (a try
// that finds the board gone looks for it again); a try that waited out a
// whole timeout ends them.
// Monitor role: the opener opens the device without claiming its
// interface and without sending anything; readPort and inp32 read the pins
// (one control request each), which USB allows beside the sequencer's
// claim, from this or another process. The backend never writes, never
// changes the bit mode. A board that no program has put into bit-bang mode
// since it was plugged in shows the levels its own circuit gives the pins.
//
// Failures: a call that fails (board pulled out, no answer within the
// timeout) is said once on stderr as "ftdi:NAME: ..."; the backend then
// keeps the newest byte, and service looks for the board at most once a
// second; when it is back the sequencer sets bit-bang mode and the newest
// byte, and that is said once. After a call that waited out a whole
// timeout (a board that is there but mute) the board is looked for every
// 10 s instead, so that a mute board stalls the caller only rarely.
//
// Every call may block, and every call is bounded: each USB transfer times
// out after 1 s (libftdi's read and write timeouts are set so). out32,
// inp32 and readPort make one transfer at most. service either checks a
// driven board (up to three transfers) or looks for a lost one: the list
// of boards (no transfer), opening (the sequencer's: a reset and a baud
// rate request) and bringing it into service (up to two transfers). The
// destructor makes up to three tries of a write or such a look, and stops
// after a try that waited out a timeout.

#include "outputkind.h"
#include "outputname.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

// The libftdi calls the backend makes: libftdi1 itself in
// ftdirelay_libftdi.cpp, a scripted board in the fuzz target and the tests.
class FtdiCalls
{
public:
    struct Device
    {
        std::string location; // the USB port: "1-1.2" (bus 1, port 1, port 2 of the hub behind it)
        std::string serial;   // the USB serial string, empty when there is none
        std::string product;  // the USB product string
        bool denied = false;  // present, but this user may not open it
    };
    using Handle = void *;
    // Drive: claim the interface, reset the chip and set it up (libftdi's
    // ftdi_usb_open_dev). Watch: open the device, claim nothing, send nothing.
    enum class Access { Drive, Watch };

    virtual ~FtdiCalls() = default;
    // Every device 0403:6001 present now, with the strings the kernel keeps
    // for it. Opens no device, sends nothing.
    virtual std::vector<Device> enumerate() = 0;
    // The device in that USB port, opened; null on failure with a text in
    // error, denied set when the user may not open it.
    virtual Handle open(const std::string &location, Access access, std::string &error, bool &denied) = 0;
    // libftdi's semantics: negative on failure; writeData returns the count
    // of bytes written, the others 0.
    virtual int setBitmode(Handle device, std::uint8_t mask, std::uint8_t mode) = 0;
    virtual int writeData(Handle device, const std::uint8_t *data, int size) = 0;
    virtual int readPins(Handle device, std::uint8_t &pins) = 0;
    virtual void close(Handle device) = 0;
    // The last failure's text for device.
    virtual std::string lastError(Handle device) = 0;
    virtual std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }
};

// The kind's functions (ftdikind.h) over the given calls.
void listFtdiRelays(FtdiCalls &calls, std::vector<OutputEntry> &entries);
std::optional<std::string> identifyFtdiRelay(FtdiCalls &calls, const OutputSpec &spec, std::string &whyNot);
std::unique_ptr<PortBackend> openFtdiRelay(FtdiCalls &calls, const OutputSpec &spec, OutputRole role,
                                           std::string &whyNot);

} // namespace portio
