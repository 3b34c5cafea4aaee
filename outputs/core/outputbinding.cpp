#include "outputbinding.h"

#include "notice.h"

#include <utility>

namespace portio {

namespace {

// Last resort when the simulated register is refused: a byte of this process.
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
// into the device's mirror, where the monitor reads it. The device answers
// reads (with the byte it last sent) and is destroyed first, so its last
// tries of the 0 come before the mirror lets go; both are serviced, so a
// byte the mirror could not take is tried again too.
class MirroredOutput final : public PortBackend
{
public:
    MirroredOutput(std::unique_ptr<PortBackend> mirror, std::unique_ptr<PortBackend> device)
        : m_mirror(std::move(mirror))
        , m_device(std::move(device))
    {
    }
    ~MirroredOutput() override
    {
        m_device.reset();
        m_mirror->out32(Lpt1DataPort, 0);
    }
    void out32(std::int16_t port, std::int16_t value) override
    {
        m_device->out32(port, value);
        m_mirror->out32(port, value);
    }
    std::int16_t inp32(std::int16_t port) override { return m_device->inp32(port); }
    std::optional<std::uint8_t> readPort() override { return m_device->readPort(); }
    void service() override
    {
        m_device->service();
        m_mirror->service();
    }
    std::string status() const override { return m_device->status(); }

private:
    std::unique_ptr<PortBackend> m_mirror;
    std::unique_ptr<PortBackend> m_device;
};

// The monitor's view of a write-only device: its mirror.
class MirrorView final : public PortBackend
{
public:
    explicit MirrorView(std::unique_ptr<PortBackend> mirror)
        : m_mirror(std::move(mirror))
    {
    }
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t port) override { return m_mirror->inp32(port); }
    std::optional<std::uint8_t> readPort() override { return m_mirror->readPort(); }
    void service() override { m_mirror->service(); }
    std::string status() const override { return "zeigt, was Blinkwerk zuletzt gesendet hat"; }

private:
    std::unique_ptr<PortBackend> m_mirror;
};

bool isLpt1(const OutputSpec &spec)
{
    return spec.kind == "lpt1";
}

// lpt1 and register files speak as LPT1, as they always did.
void say(const BindingSetup &setup, const OutputSpec &spec, const std::string &text)
{
    if (isLpt1(spec) || spec.kind == setup.fallback.kind)
        notice(text);
    else
        notice(setup.registry->format(spec), text);
}

std::string busyName(const BindingSetup &setup, const OutputSpec &spec)
{
    if (isLpt1(spec))
        return "LPT1";
    if (spec == setup.fallback)
        return "Das simulierte Register " + spec.path;
    return "Der Ausgang " + setup.registry->format(spec);
}

// Opens spec of kind for the setup's role: the device, with its mirror where
// it cannot be read back.
std::unique_ptr<PortBackend> openDevice(const BindingSetup &setup, const OutputKind &kind, const OutputSpec &spec,
                                        const std::string &device, std::string &why)
{
    if (kind.readBack)
        return kind.open(spec, setup.role, why);
    const OutputSpec mirrorSpec = setup.mirror(device);
    const OutputKind *mirrorKind = setup.registry->find(mirrorSpec.kind);
    std::string mirrorWhy;
    if (setup.role == OutputRole::Monitor) {
        // The sequencer holds the device; what it sent is in the mirror.
        if (std::unique_ptr<PortBackend> mirror = mirrorKind->open(mirrorSpec, setup.role, mirrorWhy))
            return std::make_unique<MirrorView>(std::move(mirror));
        why = "this output cannot be read back, and its mirror cannot be opened: " + mirrorWhy;
        return nullptr;
    }
    std::unique_ptr<PortBackend> backend = kind.open(spec, setup.role, why);
    if (!backend)
        return nullptr;
    std::unique_ptr<PortBackend> mirror = mirrorKind->open(mirrorSpec, setup.role, mirrorWhy);
    if (!mirror) {
        say(setup, spec, "cannot mirror into " + mirrorSpec.path + " (" + mirrorWhy + "); schaltblick cannot show this output");
        return backend;
    }
    return std::make_unique<MirroredOutput>(std::move(mirror), std::move(backend));
}

Binding served(const BindingSetup &setup, const OutputSpec &spec, const OutputKind &kind, Claim &claim,
               std::unique_ptr<PortBackend> backend)
{
    Binding binding;
    binding.backend = std::move(backend);
    binding.lock = std::move(claim.lock);
    binding.device = claim.device;
    binding.spec = setup.registry->format(spec);
    binding.mayBlock = kind.mayBlock;
    const bool lpt1 = isLpt1(spec);
    binding.inUse = lpt1 ? "lpt1, the parallel port" : binding.spec;
    binding.description = lpt1 ? "LPT1 (Parallelport)" : binding.spec;
    return binding;
}

} // namespace

Claim claimOutput(const BindingSetup &setup, const OutputSpec &spec, const std::string &heldDevice,
                  OutputSelection &selection, std::string &why)
{
    Claim claim;
    const OutputKind *kind = setup.registry->find(spec.kind);
    if (!kind) {
        why = "this build has no " + spec.kind + " output";
        return claim;
    }
    const std::optional<std::string> device = kind->identify(spec, why);
    if (!device)
        return claim;
    claim.device = *device;
    claim.result = Claim::Claimed;
    if (setup.role == OutputRole::Monitor)
        return claim;
    if (claim.device == heldDevice) {
        claim.keepsHeld = true;
        return claim;
    }
    auto lock = std::make_unique<PortLock>(claim.device, setup.lockFolder);
    switch (lock->state()) {
    case PortLock::State::Held: claim.lock = std::move(lock); break;
    case PortLock::State::Busy:
        claim.result = Claim::Busy;
        selection = {OutputSelection::Refused, {}, busyName(setup, spec)};
        break;
    case PortLock::State::Failed:
        say(setup, spec, "cannot make sure no other blinkwerk drives it (" + lock->error() + "); running anyway");
        break;
    }
    return claim;
}

Binding openClaimed(const BindingSetup &setup, const OutputSpec &spec, bool automatic, Claim claim, std::string why,
                    OutputSelection &selection)
{
    const OutputKind *kind = setup.registry->find(spec.kind);
    if (kind && claim.result == Claim::Claimed) {
        if (std::unique_ptr<PortBackend> backend = openDevice(setup, *kind, spec, claim.device, why)) {
            selection = {OutputSelection::Opened, {}, {}};
            return served(setup, spec, *kind, claim, std::move(backend));
        }
        claim.lock.reset(); // nothing of it was written
    }

    const OutputKind *boards = setup.registry->find("hidrelay");
    if (isLpt1(spec) && automatic && boards && boards->list) {
        // Nobody chose: a single USB relay board is what the user means.
        std::vector<OutputEntry> found;
        boards->list(found);
        std::string error;
        const std::optional<OutputSpec> board =
            found.size() == 1 ? setup.registry->parse(found.front().spec, error) : std::nullopt;
        if (board) {
            std::string boardWhy;
            OutputSelection boardSelection;
            Claim boardClaim = claimOutput(setup, *board, {}, boardSelection, boardWhy);
            std::unique_ptr<PortBackend> backend;
            if (boardClaim.result == Claim::Claimed)
                backend = openDevice(setup, *boards, *board, boardClaim.device, boardWhy);
            if (backend) {
                Binding binding = served(setup, *board, *boards, boardClaim, std::move(backend));
                notice(why + "; using the only USB HID relay board, " + binding.spec);
                selection = {OutputSelection::Opened, {}, {}};
                return binding;
            }
            why += "; the only USB HID relay board " + found.front().spec + ": "
                   + (boardClaim.result == Claim::Busy ? std::string("another blinkwerk drives it") : boardWhy);
        }
    }

    // lpt1 that nobody chose falling back to the simulated register is its
    // rule, not a failure.
    selection = {isLpt1(spec) && automatic ? OutputSelection::Opened : OutputSelection::FellBack, why, {}};
    Binding binding;
    std::string fallbackWhy;
    OutputSelection fallbackSelection;
    Claim fallbackClaim = claimOutput(setup, setup.fallback, {}, fallbackSelection, fallbackWhy);
    std::unique_ptr<PortBackend> backend;
    if (fallbackClaim.result == Claim::Busy) {
        selection = fallbackSelection;
        fallbackWhy = "another blinkwerk drives it";
    } else if (fallbackClaim.result == Claim::Claimed) {
        backend = setup.registry->find(setup.fallback.kind)->open(setup.fallback, setup.role, fallbackWhy);
    }
    if (backend) {
        binding.backend = std::move(backend);
        binding.lock = std::move(fallbackClaim.lock);
        binding.device = fallbackClaim.device;
        binding.spec = setup.registry->format(setup.fallback);
        binding.inUse = "the simulated register " + setup.fallback.path;
        binding.description = "simuliertes Register " + setup.fallback.path;
        binding.mayBlock = setup.registry->find(setup.fallback.kind)->mayBlock;
    } else {
        why += "; simulated register " + setup.fallback.path + ": " + fallbackWhy;
        binding.backend = std::make_unique<ProcessRegister>();
        binding.inUse = "a register private to this program";
        binding.description = "Register nur dieses Programms";
        binding.mayBlock = false;
    }
    say(setup, spec, why + "; using " + binding.inUse);
    if (isLpt1(spec)) {
        binding.inUse = "lpt1, " + binding.inUse;
        binding.description = "LPT1 (" + binding.description + ")";
    }
    return binding;
}

Binding bindOutput(const BindingSetup &setup, const OutputSpec &spec, bool automatic, OutputSelection &selection)
{
    std::string why;
    Claim claim = claimOutput(setup, spec, {}, selection, why);
    if (claim.result == Claim::Busy)
        return {};
    return openClaimed(setup, spec, automatic, std::move(claim), std::move(why), selection);
}

} // namespace portio
