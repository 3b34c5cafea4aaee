#pragma once
// What the sACN and Art-Net outputs share: one sender and one listener, each
// told which of the two protocols it speaks.
//
// Sender (role Sequencer). Holds a UDP socket and the destinations: the
// host's address (looked up once when opened, for at most two seconds; an
// unknown host is said once and looked up again in the background), else
// the universe's multicast group (sACN, port 5568) or the broadcast address
// of every IPv4 interface that is up (Art-Net, port 6454; read again every
// few seconds, so a cable plugged in later is used). It sends a packet on
// every change of the byte and repeats it at least every 800 ms while
// nothing changes. Channel k is slot START + k - 1: 255 on, 0 off; every
// other slot of the 512 is 0. sACN packets carry the source name
// "Blinkwerk", priority 100, the user's component id and a sequence number
// that counts every packet; ArtDmx carries a sequence 1 to 255 that skips 0.
// The destructor sends the 0, then (sACN) three packets with the
// stream-terminated option. inp32 returns the byte last written.
//
// Listener (role Monitor). Binds the protocol's port on every interface
// (shared with other listeners of this machine) and, for sACN, joins the
// universe's group on every interface that can. Every inp32 reads what has
// arrived, without waiting, and shows slots START to START + 7 as the byte
// (a slot of 128 or more sets its bit). Sources are told apart by their
// component id (sACN) or address (Art-Net); the one with the highest
// priority wins, at equal priority the one that sent last. A source that
// has been silent for 2.5 s, or said stream-terminated, is forgotten; with
// no source left inp32 returns 0 and status() says "kein Sender". @HOST is
// accepted and ignored: the same spec serves both machines.
//
// Faults (no network, an unknown host, a failing send, a port that cannot
// be bound) go to notice() once when they start and once when they end; no
// call ever blocks beyond the lookup at open or throws.

#include "outputkind.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

enum class NetProtocol { Sacn, ArtNet };

std::unique_ptr<PortBackend> openNetOutput(NetProtocol protocol, const OutputSpec &spec, OutputRole role,
                                           std::string &whyNot);
void listNetOutputs(NetProtocol protocol, std::vector<OutputEntry> &entries);
// Which universe and destination spec names: "sacn:1@239.255.0.1" or
// "artnet:0@broadcast", "sacn:1@10.0.0.5" for a host (looked up, for at most
// two seconds; a host that cannot be found yet is named as written). The
// slots of the universe do not count: two sequencers on one universe would
// fight over it. Never fails.
std::optional<std::string> identifyNetOutput(NetProtocol protocol, const OutputSpec &spec, std::string &whyNot);

// The canonical SPEC: "sacn:1/9@node".
std::string netSpecText(const OutputSpec &spec);

// The kinds: sacn:UNIVERSE[/START][@HOST] and artnet:UNIVERSE[/START][@HOST].
extern const OutputKind sacnKind;
extern const OutputKind artNetKind;

// Test seam: the UDP port a protocol uses from now on in this process (0:
// the protocol's own). Lets tests run beside a real receiver on this machine.
void setNetPortForTesting(NetProtocol protocol, std::uint16_t port);

} // namespace portio
