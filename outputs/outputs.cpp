#include "outputs.h"

#include "artnetoutput.h"
#include "gpiorelay.h"
#include "hidrelay.h"
#include "notice.h"
#include "parallelport.h"
#include "portbackend.h"
#include "portio.h"
#include "registerfile.h"
#include "sacnoutput.h"
#include "serialrelay.h"

#include <algorithm>
#include <utility>

namespace portio {

namespace {

// Last resort when the simulated register is refused (or may be held by
// another user): a byte of this process.
class ProcessRegister final : public PortBackend
{
public:
    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port == Lpt1DataPort)
            m_byte = static_cast<std::uint8_t>(value & 0xFF);
    }
    std::int16_t inp32(std::int16_t port) override { return port == Lpt1DataPort ? m_byte : 0; }

private:
    std::uint8_t m_byte = 0;
};

// A write-only device driven by the sequencer, with every byte also written
// into the user's simulated register, where the monitor reads it. The device
// answers reads (with the byte it last sent) and is destroyed first, so its
// last tries of the 0 come before the mirror lets go.
class MirroredOutput final : public PortBackend
{
public:
    MirroredOutput(std::unique_ptr<PortBackend> mirror, std::unique_ptr<PortBackend> device)
        : m_mirror(std::move(mirror))
        , m_device(std::move(device))
    {
    }
    void out32(std::int16_t port, std::int16_t value) override
    {
        m_device->out32(port, value);
        m_mirror->out32(port, value);
    }
    std::int16_t inp32(std::int16_t port) override { return m_device->inp32(port); }
    void service() override { m_device->service(); }
    std::string status() const override { return m_device->status(); }

private:
    std::unique_ptr<PortBackend> m_mirror;
    std::unique_ptr<PortBackend> m_device;
};

// The monitor's view of a write-only device: the simulated register that the
// sequencer mirrors into.
class SentBytes final : public PortBackend
{
public:
    explicit SentBytes(std::unique_ptr<PortBackend> mirror)
        : m_mirror(std::move(mirror))
    {
    }
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t port) override { return m_mirror->inp32(port); }
    std::string status() const override { return "zeigt, was Blinkwerk zuletzt gesendet hat"; }

private:
    std::unique_ptr<PortBackend> m_mirror;
};

// How the monitor learns what an output holds.
enum class ReadBack {
    Device, // the device (or register) answers for itself
    Mirror, // write-only: the monitor reads the simulated register the sequencer mirrors into
};

using Opener = std::unique_ptr<PortBackend> (*)(const OutputSpec &, OutputRole, std::string &);
using Lister = void (*)(std::vector<OutputEntry> &);

struct OutputKind
{
    OutputSpec::Kind kind;
    Opener open;
    Lister list; // null: outputs of this kind are named, never found
    ReadBack readBack;
};

// lpt1 alone is the real port; falling back is the port layer's business.
OutputSpec registerSpec(const std::string &path)
{
    OutputSpec spec;
    spec.kind = OutputSpec::Kind::Register;
    spec.path = path;
    return spec;
}

std::unique_ptr<PortBackend> openLpt1Output(const OutputSpec &, OutputRole, std::string &whyNot)
{
    return openHardwarePort(whyNot);
}

void listLpt1Outputs(std::vector<OutputEntry> &entries)
{
    if (const std::optional<std::string> device = parallelPortDevice())
        entries.push_back({"lpt1", "Parallelport LPT1 (" + *device + ")"});
    const std::string simulated = RegisterFile::defaultSharedName();
    entries.push_back({formatOutputSpec(registerSpec(simulated)),
                       "Simuliertes Register (" + simulated + ")"});
}

std::unique_ptr<PortBackend> openRegisterOutput(const OutputSpec &spec, OutputRole, std::string &whyNot)
{
    std::string error;
    if (auto file = RegisterFile::openFile(spec.path, error))
        return file;
    whyNot = "register file " + error;
    return nullptr;
}

// One row per kind. A kind missing here is one this build lacks.
const OutputKind Kinds[] = {
    {OutputSpec::Kind::Lpt1, openLpt1Output, listLpt1Outputs, ReadBack::Device},
    {OutputSpec::Kind::Register, openRegisterOutput, nullptr, ReadBack::Device},
    {OutputSpec::Kind::HidRelay, openHidRelayOutput, listHidRelayOutputs, ReadBack::Device},
    {OutputSpec::Kind::Serial, openSerialRelayOutput, listSerialRelayOutputs, ReadBack::Mirror},
    {OutputSpec::Kind::Gpio, openGpioRelayOutput, listGpioRelayOutputs, ReadBack::Mirror},
    {OutputSpec::Kind::Sacn, openSacnOutput, listSacnOutputs, ReadBack::Device},
    {OutputSpec::Kind::ArtNet, openArtNetOutput, listArtNetOutputs, ReadBack::Device},
};

const OutputKind *kindRow(OutputSpec::Kind kind)
{
    const auto row = std::find_if(std::begin(Kinds), std::end(Kinds), [kind](const OutputKind &k) {
        return k.kind == kind;
    });
    return row == std::end(Kinds) ? nullptr : row;
}

std::string kindName(const OutputSpec &spec)
{
    const std::string text = formatOutputSpec(spec);
    return text.substr(0, text.find(':'));
}

// The user's simulated register, else a byte of this process; inUse says
// which (English), shown which (German).
std::unique_ptr<PortBackend> openFallback(std::string &why, std::string &inUse, std::string &shown,
                                          std::string &spec)
{
    const std::string name = RegisterFile::defaultSharedName();
    std::string error;
    if (auto shared = RegisterFile::openShared(name, error)) {
        inUse = "the simulated register " + name;
        shown = "simuliertes Register " + name;
        spec = formatOutputSpec(registerSpec(name));
        return shared;
    }
    why += "; " + error;
    inUse = "a register private to this program";
    shown = "Register nur dieses Programms";
    spec = "lpt1";
    return std::make_unique<ProcessRegister>();
}

} // namespace

std::vector<OutputEntry> listOutputs()
{
    std::vector<OutputEntry> entries;
    for (const OutputKind &row : Kinds)
        if (row.list)
            row.list(entries);
    return entries;
}

std::vector<OutputEntry> listOutputs(OutputSpec::Kind kind)
{
    std::vector<OutputEntry> entries;
    if (const OutputKind *row = kindRow(kind); row && row->list)
        row->list(entries);
    return entries;
}

std::unique_ptr<PortBackend> openOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    const OutputKind *row = kindRow(spec.kind);
    if (!row) {
        whyNot = "this build has no " + kindName(spec) + " output";
        return nullptr;
    }
    const std::string name = RegisterFile::defaultSharedName();
    if (row->readBack == ReadBack::Mirror && role == OutputRole::Monitor) // blinkwerk may hold the device
        return mirroredOutput(nullptr, role, formatOutputSpec(spec), name, whyNot);
    std::unique_ptr<PortBackend> device = row->open(spec, role, whyNot);
    if (!device || row->readBack == ReadBack::Device)
        return device;
    return mirroredOutput(std::move(device), role, formatOutputSpec(spec), name, whyNot);
}

std::unique_ptr<PortBackend> mirroredOutput(std::unique_ptr<PortBackend> device, OutputRole role,
                                            const std::string &source, const std::string &registerName,
                                            std::string &whyNot)
{
    std::string error;
    std::unique_ptr<PortBackend> mirror = RegisterFile::openShared(registerName, error);
    if (role == OutputRole::Monitor) {
        if (mirror)
            return std::make_unique<SentBytes>(std::move(mirror));
        whyNot = "this output cannot be read back, and the simulated register " + registerName
                 + " that blinkwerk mirrors it into cannot be opened: " + error;
        return nullptr;
    }
    if (!mirror) {
        notice(source, "cannot mirror into the simulated register (" + error + "); schaltblick cannot show this output");
        return device;
    }
    return std::make_unique<MirroredOutput>(std::move(mirror), std::move(device));
}

BoundOutput bindOutput(const OutputSpec &spec, OutputRole role, bool automatic)
{
    BoundOutput bound;
    bound.spec = formatOutputSpec(spec);
    std::string why;
    if ((bound.backend = openOutput(spec, role, why))) {
        const bool lpt1 = spec.kind == OutputSpec::Kind::Lpt1;
        bound.inUse = lpt1 ? "lpt1, the parallel port" : bound.spec;
        bound.description = lpt1 ? "LPT1 (Parallelport)" : bound.spec;
        return bound;
    }
    if (spec.kind == OutputSpec::Kind::Lpt1 && automatic) {
        // Nobody chose: a single USB relay board is what the user means.
        const std::vector<OutputEntry> boards = listOutputs(OutputSpec::Kind::HidRelay);
        std::string error;
        const std::optional<OutputSpec> board =
            boards.size() == 1 ? parseOutputSpec(boards.front().spec, error) : std::nullopt;
        std::string boardWhy;
        if (board && (bound.backend = openOutput(*board, role, boardWhy))) {
            bound.spec = bound.inUse = bound.description = boards.front().spec;
            notice(why + "; using the only USB HID relay board, " + bound.spec);
            return bound;
        }
        if (board)
            why += "; the only USB HID relay board " + boards.front().spec + ": " + boardWhy;
    }
    // lpt1 falling back to the simulated register is its rule, not a failure.
    if (spec.kind != OutputSpec::Kind::Lpt1)
        bound.failure = why;
    std::string shown, fallbackSpec;
    bound.backend = openFallback(why, bound.inUse, shown, fallbackSpec);
    // The register file stands in for LPT1: its lines are LPT1's, as ever.
    if (spec.kind == OutputSpec::Kind::Lpt1 || spec.kind == OutputSpec::Kind::Register)
        notice(why + "; using " + bound.inUse);
    else
        notice(bound.spec, why + "; using " + bound.inUse);
    if (spec.kind == OutputSpec::Kind::Lpt1) {
        bound.inUse = "lpt1, " + bound.inUse;
        bound.description = "LPT1 (" + shown + ")";
    } else {
        bound.spec = fallbackSpec;
        bound.description = shown;
    }
    return bound;
}

} // namespace portio
