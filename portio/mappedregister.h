#pragma once
// A register byte that lives outside the process: a named shared-memory
// object (the simulated register; a file on Windows) or a file. Every process
// that maps the same name sees the same byte; the byte survives the
// processes that wrote it until the machine restarts (shared memory) or for
// good (a file). It
// starts at 0 when first created. Every read and write is a single atomic
// byte access, so a reader never sees a torn value.

#include "portbackend.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace portio {

class MappedRegister final : public PortBackend
{
public:
    // The simulated register of this user: "/blinkwerk-lpt1-<uid>" on POSIX,
    // the full path of a file in the user's local application data on Windows.
    static std::string defaultSharedName();

    // Open (creating when missing) a shared-memory register of that name.
    // Null and a reason in error when the system refuses.
    static std::unique_ptr<MappedRegister> openShared(const std::string &name, std::string &error);

    // Open a file as the register, creating it with one zero byte when it is
    // missing or empty. Null and a reason in error when it cannot be used.
    static std::unique_ptr<MappedRegister> openFile(const std::string &path, std::string &error);

    // Remove a shared-memory register's name (tests use private names).
    static void unlinkShared(const std::string &name);

    ~MappedRegister() override;
    MappedRegister(const MappedRegister &) = delete;
    MappedRegister &operator=(const MappedRegister &) = delete;

    std::uint8_t read() const;
    void write(std::uint8_t value);

    void out32(std::int16_t port, std::int16_t value) override;
    std::int16_t inp32(std::int16_t port) override;

private:
    MappedRegister(unsigned char *byte, std::size_t mappedLength, std::intptr_t handle);

    unsigned char *m_byte;
    std::size_t m_mappedLength;
    std::intptr_t m_handle; // the mapping's handle on Windows; unused on POSIX
};

} // namespace portio
