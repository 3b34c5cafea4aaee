#pragma once
// The registry of output kinds. A kind is one folder of outputs/ that fills
// one OutputKind: how its SPEC is parsed and formatted, how its devices are
// listed and opened, which device an output of it is, whether that device
// can be read back and whether its calls may block. The table of the kinds a
// program knows is built one level up (outputs.h); adding a kind is a new
// folder and one line there.

#include "outputname.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portio {

class PortBackend;

// Who opens the output: the sequencer drives it, the monitor watches it.
// The monitor never switches anything: it reads the device's own state where
// the device can tell it, and otherwise what the sequencer last sent.
enum class OutputRole { Sequencer, Monitor };

struct OutputEntry
{
    std::string spec;        // the output's SPEC; a kind may list one to be completed (it does not parse)
    std::string description; // for people: "USB-Relaiskarte mit 8 Relais (Seriennummer ABCDE)"
};

struct OutputKind
{
    std::string_view name;   // an output name's text before the first colon, lower case
    std::string_view syntax; // for --help: "hidrelay[:SERIAL]"
    std::string_view help;   // for --help, English, one line

    // An output name's text after the kind's name: empty, or a colon and what follows.
    // Fills the fields of spec this kind uses (spec.kind is set already);
    // false with a reason (English, one phrase) when anything is wrong.
    bool (*parse)(std::string_view rest, OutputSpec &spec, std::string &error);
    // The canonical text after the name; parse(format(s)) gives s back.
    std::string (*format)(const OutputSpec &spec);

    // Appends an entry for every device of this kind found now. May block
    // (a board is asked for its serial). Null: outputs of this kind are
    // named, never found.
    void (*list)(std::vector<OutputEntry> &entries);

    // Which device spec names: a text that is the same however the device
    // is named ("hidrelay:ABCDE", "tty:188:0", "file:2049:1234",
    // "sacn:1@239.255.0.1"), so that one lock keeps two sequencers apart.
    // Nothing, with the reason, when the device cannot be found or may not
    // be used. Opens nothing for writing and switches nothing. May block.
    std::optional<std::string> (*identify)(const OutputSpec &spec, std::string &whyNot);

    // The backend (see portbackend.h) for spec in role, or null with a
    // reason for the user. The sequencer opens only after it holds the
    // device's lock. May block where mayBlock says so.
    std::unique_ptr<PortBackend> (*open)(const OutputSpec &spec, OutputRole role, std::string &whyNot);

    // The device can tell what it holds. Otherwise the sequencer also
    // writes every byte into the output's mirror, which the monitor reads.
    bool readBack;
    // Opening, writing, reading or closing may wait on a bus, a driver or
    // a resolver: the output session then drives it from a worker only.
    bool mayBlock;
};

class OutputRegistry
{
public:
    explicit OutputRegistry(std::vector<const OutputKind *> kinds);

    const std::vector<const OutputKind *> &kinds() const { return m_kinds; }
    // The kind of that name (any case), or null.
    const OutputKind *find(std::string_view name) const;

    // The output that text names, or nothing with a reason (English, one
    // phrase) in error: an unknown kind, or what the kind refuses.
    std::optional<OutputSpec> parse(std::string_view text, std::string &error) const;
    // The canonical text of a spec; parse(format(s)) == s.
    std::string format(const OutputSpec &spec) const;
    // Every output found on this machine, each kind's entries together.
    // May block.
    std::vector<OutputEntry> list() const;
    // "lpt1, register:, hidrelay, ..." for messages.
    std::string names() const;

private:
    std::vector<const OutputKind *> m_kinds;
};

} // namespace portio
