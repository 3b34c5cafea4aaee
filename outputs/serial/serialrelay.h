#pragma once
// Serial relay boards (serial:PORT[,lcus|,icse]) through QSerialPort at
// 9600 baud, 8N1, without flow control.
//
// What it holds: the open port from creation to destruction, the newest
// byte, and what the board was sent (see serialrelayprotocol.h for the
// bytes). It binds at creation: the opener opens the port, and fails when
// the port is missing or not ours to open (then whyNot says why, naming the
// group dialout where permission is missing).
//
// Every port call returns at once: frames go out one per pause from a timer
// of the event loop, always towards the newest byte (so a burst of steps
// never queues stale states), and an ICSE board's wake-up answer is awaited
// by a timer of at most one second. inp32 returns the newest byte asked for:
// these boards cannot be read back. Only the sequencer drives a board; the
// monitor is refused (it reads the mirrored register instead).
//
// Failures, each said once on standard error when it starts and once when it
// ends: a board that goes away (unplugged, a write or read error) is closed,
// the newest byte is kept, and service() tries to open it again at most once
// a second; found again, it gets the newest byte. An ICSE board that answers
// the wake-up wrongly or not within a second is said once, and then driven
// anyway (it may already be awake). The destructor sends the 0 (for LCUS
// each relay still on, paced), waits for it at most about a second, and
// closes the port.

#include "outputkind.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

std::unique_ptr<PortBackend> openSerialRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);
void listSerialRelayOutputs(std::vector<OutputEntry> &entries);

// The list entry of one serial port: its spec (the device path where the
// platform has one, else the port's name) and a German description with
// what the port says of itself.
OutputEntry serialRelayEntry(const std::string &location, const std::string &portName, const std::string &description,
                             const std::string &manufacturer);

// The canonical SPEC of a serial output: "serial:PORT,lcus".
std::string serialSpecText(const OutputSpec &spec);

// Which port path is, the same however it is named ("tty:188:0" by the
// device number on POSIX, "com:COM3" on Windows); nothing with the reason
// when there is no such port. Opens nothing. One file per platform.
std::optional<std::string> serialPortIdentity(const std::string &path, std::string &whyNot);

// What a user told "no permission" for port at path is to do on this
// platform: join the group that owns serial ports, or, where the user has
// the rights already and the port is only taken, close the program that
// holds it. One file per platform.
std::string serialAccessHint(const std::string &path);

// The kind: serial:PORT[,lcus|,icse].
extern const OutputKind serialRelayKind;

} // namespace portio
