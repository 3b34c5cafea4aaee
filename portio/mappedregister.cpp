#include "mappedregister.h"
#include "portio.h"

#include <atomic>

namespace portio {

MappedRegister::MappedRegister(unsigned char *byte, std::size_t mappedLength, std::intptr_t handle)
    : m_byte(byte)
    , m_mappedLength(mappedLength)
    , m_handle(handle)
{
}

std::uint8_t MappedRegister::read() const
{
    return std::atomic_ref<unsigned char>(*m_byte).load(std::memory_order_acquire);
}

void MappedRegister::write(std::uint8_t value)
{
    std::atomic_ref<unsigned char>(*m_byte).store(value, std::memory_order_release);
}

void MappedRegister::out32(std::int16_t port, std::int16_t value)
{
    if (port == Lpt1DataPort)
        write(static_cast<std::uint8_t>(value & 0xFF));
}

std::int16_t MappedRegister::inp32(std::int16_t port)
{
    return port == Lpt1DataPort ? std::int16_t(read()) : std::int16_t(0);
}

} // namespace portio
