#include "relaymonitor.h"

namespace monitor {

RelayMonitor::RelayMonitor(ReadPort readPort, SetIndicator setIndicator)
    : m_readPort(std::move(readPort))
    , m_setIndicator(std::move(setIndicator))
{
}

void RelayMonitor::tick()
{
    if (m_readPort() == m_lastPortValue)
        return;
    // The remembered value is the one the lamps show: were it a later
    // reading, a change between the readings would leave the lamps wrong
    // for as long as the port then stays. The third reading is kept, so a
    // change costs the same three port reads as always; it decides nothing.
    m_lastPortValue = scan();
    [[maybe_unused]] const std::int16_t third = m_readPort();
}

void RelayMonitor::Scan()
{
    scan();
}

std::int16_t RelayMonitor::scan()
{
    const std::int16_t reading = m_readPort();
    std::int16_t x = reading;
    // Flag p holds bit p - 1 of the reading, found from the highest weight
    // down by subtraction.
    std::array<std::uint8_t, LampCount + 1> flag{}; // flag[1] to flag[8]
    std::int16_t weight = 128;
    for (int p = LampCount; p >= 1; --p) {
        if (x - weight >= 0) {
            flag[std::size_t(p)] = 1;
            x = static_cast<std::int16_t>(x - weight);
        }
        weight = static_cast<std::int16_t>(weight / 2);
    }
    for (int k = 0; k < LampCount; ++k)
        m_setIndicator(k, flag[std::size_t(k + 1)] + 1);
    return reading;
}

} // namespace monitor
