#pragma once
// The relay monitor's logic, free of widgets: the change test of every
// tick and Scan, which splits the port byte into the eight lamps.
//
// A tick reads the port; when the reading differs from LastPortValue it
// calls Scan (which reads the port a second time and sets all eight
// indicators from that reading), keeps the reading Scan drew in
// LastPortValue, and reads the port a third time. A tick whose reading
// equals LastPortValue reads once and draws nothing. So LastPortValue is
// always what the lamps show, and a port that changed while a tick drew is
// drawn again on the next tick.

#include <array>
#include <cstdint>
#include <functional>

namespace monitor {

inline constexpr int LampCount = 8;
inline constexpr int ImageOff = 1; // olive
inline constexpr int ImageOn = 2;  // yellow

class RelayMonitor
{
public:
    // readPort: the source of port bytes, LptIn in the program.
    // setIndicator(k, image): gives indicator k (0 to 7) image 1 or 2.
    using ReadPort = std::function<std::int16_t()>;
    using SetIndicator = std::function<void(int k, int image)>;

    RelayMonitor(ReadPort readPort, SetIndicator setIndicator);

    void tick();
    void Scan();

    std::int16_t lastPortValue() const { return m_lastPortValue; }

private:
    std::int16_t scan(); // Scan, returning the reading it drew

    ReadPort m_readPort;
    SetIndicator m_setIndicator;
    std::int16_t m_lastPortValue = 0;
};

} // namespace monitor
