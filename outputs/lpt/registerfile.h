#pragma once
// A register byte kept in a file, outside the process: the simulated
// register of this user, or a file named by BLINKWERK_LPT_REGISTER. Every process that
// opens the same register sees the same byte; the byte outlives the
// processes that wrote it, until the machine restarts (or the user's last
// session ends, for a register in $XDG_RUNTIME_DIR) or for good (a file). It
// starts at 0 when first created. Every read and write is a single byte
// access, so a reader never sees a torn value.
//
// POSIX: the register is a file reached with pread/pwrite at offset 0, never
// mapped, so a file that shrinks or a file system that fills up under a
// running program costs a failed access, not a bus error. The simulated
// register is the file "blinkwerk-lpt1" in the user's runtime folder
// ($XDG_RUNTIME_DIR when it is this user's own, see userfiles_posix.h), or
// "blinkwerk-lpt1-<uid>" in /dev/shm (else /tmp) when there is none; a file
// found there is used only when it is a regular file, has one link, belongs
// to this user and nobody else may write it.
// Windows: a mapping of a real one-byte file (the simulated register lives in
// the user's local application data folder), so that the byte outlives the
// programs; Windows refuses to shrink a file while it is mapped.
//
// An access that fails (a file emptied by someone, a full file system, an
// I/O error) never stops the program: a read then gives nothing (readPort,
// tryRead; read and inp32 give 0, as they always have), a write's byte is
// kept (a newer one replaces it) and tried again before the next read, by
// service() about once a second, and once more when the register is closed;
// one line on standard error says so, and the first access that works again
// says that once too. A write to an emptied file puts the byte back.

#include "portbackend.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace portio {

class RegisterFile final : public PortBackend
{
public:
    // The simulated register of this user: a file path on POSIX (above); on
    // Windows a file in the user's local application data folder, readable
    // only by that user, mapped by every program that uses it.
    static std::string defaultSharedName();
    // A file of this user's beside it, named by stem (the mirrors of
    // write-only outputs).
    static std::string sharedName(const std::string &stem);

    // Open (creating when missing) the simulated register of that name.
    // Null and a reason in error when the system refuses, or (POSIX) when
    // what is found there may be held by another user.
    static std::unique_ptr<RegisterFile> openShared(const std::string &name, std::string &error);

    // Open a file as the register, creating it with one zero byte when it is
    // missing or empty. Null and a reason in error when it cannot be opened,
    // when (POSIX) it may be held by another user: the same rule as for the
    // simulated register (a link in the last component is not followed;
    // only a regular file with one link, of this user, that nobody else may
    // write), and when it holds more than one byte: a register is a file the
    // program made or an empty or one-byte file, never a document of the
    // user's, whose content is left as it was. A file whose byte cannot be
    // stored (full file system) is still the register: the failure is said
    // as above.
    static std::unique_ptr<RegisterFile> openFile(const std::string &path, std::string &error);

    // Which file path is, the same however it is named (device and inode on
    // POSIX, volume and file index on Windows), by the rules of openFile: a
    // missing file is created (empty), a file openFile refuses
    // gives nothing and the reason. Writes nothing to an existing file.
    static std::optional<std::string> identity(const std::string &path, std::string &error);

    // Remove a simulated register (tests use private names).
    static void unlinkShared(const std::string &name);

    ~RegisterFile() override;
    RegisterFile(const RegisterFile &) = delete;
    RegisterFile &operator=(const RegisterFile &) = delete;

    // The register's byte; nothing when it cannot be read now (emptied,
    // an I/O error; a kept byte is written first, so a failed write does
    // not hide behind an old byte). Never blocks beyond the file access.
    std::optional<std::uint8_t> tryRead();
    // The same, 0 when it cannot be read.
    std::uint8_t read();
    void write(std::uint8_t value);

    void out32(std::int16_t port, std::int16_t value) override;
    std::int16_t inp32(std::int16_t port) override;
    std::optional<std::uint8_t> readPort() override;
    void service() override;

private:
    RegisterFile(unsigned char *byte, std::size_t mappedLength, std::intptr_t handle, std::string name = {});

    // One line on standard error when the register stops working (why says
    // how) and one when an access works again; silent otherwise.
    void noteFailure(const std::string &why);
    void noteWorking();
    // Writes m_kept; true when it reached the file (POSIX).
    bool writeKept();

    unsigned char *m_byte;      // the mapped byte on Windows; null on POSIX
    std::size_t m_mappedLength; // of the mapping on Windows; 0 on POSIX
    std::intptr_t m_handle;     // the mapping's handle on Windows; the file's descriptor on POSIX
    std::string m_name;         // the register's name in messages
    bool m_failing = false;
    std::optional<std::uint8_t> m_kept;                // a byte whose write failed (POSIX)
    std::chrono::steady_clock::time_point m_nextTry {}; // of the kept byte (POSIX)
};

} // namespace portio
