#pragma once
// What every kind of output shares with the layers above it: who opens an
// output, and how a found device is listed.

#include "outputname.h"

#include <string>

namespace portio {

// Who opens the output: the sequencer drives it, the monitor watches it.
// The monitor never switches anything: it reads the device's own state where
// the device can tell it, and otherwise what the sequencer last sent.
enum class OutputRole { Sequencer, Monitor };

struct OutputEntry
{
    std::string spec;        // formatOutputSpec of the output
    std::string description; // for people: "USB-Relaiskarte mit 8 Relais (Seriennummer ABCDE)"
};

} // namespace portio
