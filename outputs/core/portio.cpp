#include "portio.h"

#include <atomic>

namespace portio {

namespace {

// What the routines reach while nothing is routed: nothing.
class NoPort final : public PortBackend
{
public:
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t) override { return 0; }
};

NoPort g_noPort;
// Set on the program's thread before the step clock or a reader starts, read
// by any of them.
std::atomic<PortBackend *> g_routed {&g_noPort};

} // namespace

void Out32(std::int16_t port, std::int16_t value)
{
    g_routed.load(std::memory_order_acquire)->out32(port, value);
}

std::int16_t Inp32(std::int16_t port)
{
    return g_routed.load(std::memory_order_acquire)->inp32(port);
}

void LptOut(std::uint8_t value)
{
    Out32(Lpt1DataPort, static_cast<std::int16_t>(value));
}

std::uint8_t LptIn()
{
    return static_cast<std::uint8_t>(Inp32(Lpt1DataPort) & 0xFF);
}

ScopedPortBackend::ScopedPortBackend(PortBackend &backend)
    : m_previous(g_routed.exchange(&backend, std::memory_order_acq_rel))
{
}

ScopedPortBackend::~ScopedPortBackend()
{
    g_routed.store(m_previous, std::memory_order_release);
}

} // namespace portio
