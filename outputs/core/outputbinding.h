#pragma once
// Binding an output: from the output a user named to the backend that serves
// it, with the one-sequencer lock of the device actually bound. The output
// session (outputsession.h) runs these steps on its worker; they may block
// as long as the kinds' identify and open do.
//
// For the sequencer:
//   1. The kind names the device (OutputKind::identify).
//   2. Its lock is taken; another sequencer holding it ends the binding
//      there: nothing is opened, nothing written (Refused).
//   3. The kind opens it. A write-only device is mirrored: every byte also
//      goes into the register of the device's mirror, where the monitor reads
//      it.
//   4. What cannot be identified or opened is replaced by the fallback (the
//      user's simulated register), under the fallback's own lock; lpt1 chosen
//      by nobody (automatic) is first replaced by the only USB HID relay
//      board when exactly one is listed. When even the fallback cannot be
//      opened, a register private to this process serves, without a lock.
// For the monitor the same without locks; a write-only device is read from
// its mirror.
// Every step that falls through says why in one line on standard error.

#include "outputkind.h"
#include "portbackend.h"
#include "portlock.h"

#include <functional>
#include <memory>
#include <string>

namespace portio {

struct BindingSetup
{
    const OutputRegistry *registry = nullptr;
    OutputRole role = OutputRole::Sequencer;
    // The output that stands in for one that cannot be opened.
    OutputSpec fallback;
    // The register a write-only device's bytes are mirrored into, by the
    // device's identity.
    std::function<OutputSpec(const std::string &device)> mirror;
    // Where the locks live (POSIX); empty: the machine's lock folder.
    std::string lockFolder;
};

struct OutputSelection
{
    enum Outcome {
        Opened,   // the output named serves now
        FellBack, // it could not be opened: the fallback serves (why says why)
        Refused,  // another sequencer drives its device: nothing was touched (busy names it)
    } outcome = Opened;
    std::string why;
    std::string busy; // German, the subject of a sentence: "LPT1", "Der Ausgang hidrelay:ABCDE"
};

struct Binding
{
    std::unique_ptr<PortBackend> backend;
    std::unique_ptr<PortLock> lock; // sequencer: held for device, or null (no lock could be set up)
    std::string device;             // identity of what serves; empty for the private register
    std::string spec;               // canonical SPEC of what serves
    std::string inUse;              // English, for standard error: "lpt1, the simulated register /run/..."
    std::string description;        // German, for tooltips: "LPT1 (simuliertes Register /run/...)"
    bool mayBlock = true;
};

// Identifies and locks the device of spec (sequencer; the monitor only
// identifies). heldDevice: a device whose lock this process holds already
// (a switch to the same device keeps that lock, which a second lock of the
// same process would find busy).
struct Claim
{
    enum Result {
        Claimed, // identified (and, for the sequencer, locked, or no lock could be set up: said)
        Busy,    // another sequencer holds the device; selection says so
        Unknown, // the device cannot be identified; why says why
    } result = Unknown;
    std::string device;
    std::unique_ptr<PortLock> lock;
    bool keepsHeld = false; // device == heldDevice: the caller's lock serves
};
Claim claimOutput(const BindingSetup &setup, const OutputSpec &spec, const std::string &heldDevice,
                  OutputSelection &selection, std::string &why);

// Opens spec under claim (from claimOutput), else the fallback as above.
// automatic: nobody chose the output. The selection says what came of it.
Binding openClaimed(const BindingSetup &setup, const OutputSpec &spec, bool automatic, Claim claim, std::string why,
                    OutputSelection &selection);

// claimOutput and openClaimed in one.
Binding bindOutput(const BindingSetup &setup, const OutputSpec &spec, bool automatic, OutputSelection &selection);

} // namespace portio
