#include "portio.h"

#include "environment.h"
#include "registerfile.h"
#include "notice.h"
#include "portbackend.h"

#include <optional>
#include <string>

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

void explain(const std::string &why, const std::string &choice)
{
    notice(why + "; using " + choice);
}

std::unique_ptr<PortBackend> bindBackend()
{
    std::string why;
    const std::optional<std::string> registerFile = environmentVariable("BLINKWERK_LPT_REGISTER");
    if (registerFile && !registerFile->empty()) {
        std::string error;
        if (auto file = RegisterFile::openFile(*registerFile, error))
            return file;
        why = "register file " + error;
    } else {
        if (auto hardware = openHardwarePort(why))
            return hardware;
    }

    const std::string name = RegisterFile::defaultSharedName();
    std::string error;
    if (auto shared = RegisterFile::openShared(name, error)) {
        explain(why, "the simulated register " + name);
        return shared;
    }
    explain(why + "; " + error, "a register private to this program");
    return std::make_unique<ProcessRegister>();
}

// What the port calls reach once the port is closed: nothing.
class ClosedPort final : public PortBackend
{
public:
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t) override { return 0; }
};

PortBackend *g_override = nullptr;
std::unique_ptr<PortBackend> g_bound;
bool g_closed = false;

PortBackend &backend()
{
    static ClosedPort closed;
    if (g_override)
        return *g_override;
    if (g_closed)
        return closed;
    if (!g_bound)
        g_bound = bindBackend();
    return *g_bound;
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
        g_bound->service();
}

void closePort()
{
    g_closed = true;
    g_bound.reset();
}

ScopedPortBackend::ScopedPortBackend(PortBackend &backend)
    : m_previous(g_override)
{
    g_override = &backend;
}

ScopedPortBackend::~ScopedPortBackend()
{
    g_override = m_previous;
}

} // namespace portio
