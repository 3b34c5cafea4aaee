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
    Scan();
    m_lastPortValue = m_readPort();
}

void RelayMonitor::Scan()
{
    std::int16_t x = m_readPort();
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
}

} // namespace monitor
