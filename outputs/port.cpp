#include "portio.h"

#include "environment.h"
#include "notice.h"
#include "portbackend.h"

#include <optional>
#include <string>
#include <utility>

namespace portio {

namespace {

struct Configuration
{
    OutputSpec spec;
    OutputRole role = OutputRole::Sequencer;
    bool automatic = false;
};

std::optional<Configuration> g_configuration;
PortBackend *g_override = nullptr;
std::string g_overrideDescription;
std::optional<BoundOutput> g_bound;

// Unconfigured, the port layer binds as it always did.
Configuration unconfigured()
{
    Configuration configuration;
    const std::optional<std::string> registerFile = environmentVariable("BLINKWERK_LPT_REGISTER");
    if (registerFile && !registerFile->empty()) {
        configuration.spec.kind = OutputSpec::Kind::Register;
        configuration.spec.path = *registerFile;
    }
    return configuration;
}

BoundOutput &bound()
{
    if (!g_bound) {
        const Configuration configuration = g_configuration.value_or(unconfigured());
        g_bound = bindOutput(configuration.spec, configuration.role, configuration.automatic);
        if (g_configuration)
            notice("Output", g_bound->inUse);
    }
    return *g_bound;
}

// What the port calls reach once the port is closed: nothing.
class ClosedPort final : public PortBackend
{
public:
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t) override { return 0; }
};

bool g_closed = false;

PortBackend &backend()
{
    static ClosedPort closed;
    if (g_override)
        return *g_override;
    if (g_closed)
        return closed;
    return *bound().backend;
}

} // namespace

void Out32(std::int16_t port, std::int16_t value)
{
    backend().out32(port, value);
}

std::int16_t Inp32(std::int16_t port)
{
    return backend().inp32(port);
}

void LptOut(std::uint8_t value)
{
    Out32(Lpt1DataPort, static_cast<std::int16_t>(value));
}

std::uint8_t LptIn()
{
    return static_cast<std::uint8_t>(Inp32(Lpt1DataPort) & 0xFF);
}

void servicePort()
{
    if (g_override)
        g_override->service();
    else if (g_bound)
        g_bound->backend->service();
}

void closePort()
{
    g_closed = true;
    g_bound.reset();
}

void configureOutput(const OutputSpec &spec, OutputRole role, bool automatic)
{
    g_configuration = Configuration{spec, role, automatic};
}

std::optional<OutputSpec> configuredOutput()
{
    if (!g_configuration)
        return std::nullopt;
    return g_configuration->spec;
}

OutputSelection selectOutput(const OutputSpec &spec)
{
    if (g_closed)
        return {OutputSelection::Refused, {}};
    const OutputRole role = g_configuration ? g_configuration->role : OutputRole::Sequencer;
    if (g_bound) {
        if (role == OutputRole::Sequencer)
            g_bound->backend->out32(Lpt1DataPort, 0);
        g_bound.reset();
    }
    g_configuration = Configuration{spec, role, false};
    const BoundOutput &now = bound();
    // The new output starts dark, as a program's first output does; a
    // running sequence gives it its byte at the next step.
    if (role == OutputRole::Sequencer)
        now.backend->out32(Lpt1DataPort, 0);
    if (now.failure.empty())
        return {OutputSelection::Opened, {}};
    return {OutputSelection::FellBack, now.failure};
}

std::string outputSpecInUse()
{
    return g_override || g_closed ? std::string() : bound().spec;
}

std::string outputDescription()
{
    if (g_closed)
        return {};
    return g_override ? g_overrideDescription : bound().description;
}

std::string outputStatus()
{
    if (g_override)
        return g_override->status();
    return g_bound ? g_bound->backend->status() : std::string();
}

ScopedPortBackend::ScopedPortBackend(PortBackend &backend, std::string description)
    : m_previous(g_override)
    , m_previousDescription(std::exchange(g_overrideDescription, std::move(description)))
{
    g_override = &backend;
}

ScopedPortBackend::~ScopedPortBackend()
{
    g_override = m_previous;
    g_overrideDescription = std::move(m_previousDescription);
}

} // namespace portio
