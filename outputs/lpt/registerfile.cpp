#include "registerfile.h"

#include "notice.h"
#include "portbackend.h"

#include <utility>

namespace portio {

RegisterFile::RegisterFile(unsigned char *byte, std::size_t mappedLength, std::intptr_t handle,
                               std::string name)
    : m_byte(byte)
    , m_mappedLength(mappedLength)
    , m_handle(handle)
    , m_name(std::move(name))
{
}

void RegisterFile::noteFailure(const std::string &why)
{
    if (m_failing)
        return;
    m_failing = true;
    notice("register " + m_name + " " + why + "; the program goes on and says when it works again");
}

void RegisterFile::noteWorking()
{
    if (!m_failing)
        return;
    m_failing = false;
    notice("register " + m_name + " works again");
}

void RegisterFile::out32(std::int16_t port, std::int16_t value)
{
    if (port == Lpt1DataPort)
        write(static_cast<std::uint8_t>(value & 0xFF));
}

std::int16_t RegisterFile::inp32(std::int16_t port)
{
    return port == Lpt1DataPort ? std::int16_t(read()) : std::int16_t(0);
}

std::uint8_t RegisterFile::read()
{
    return tryRead().value_or(0);
}

std::optional<std::uint8_t> RegisterFile::readPort()
{
    return tryRead();
}

} // namespace portio
