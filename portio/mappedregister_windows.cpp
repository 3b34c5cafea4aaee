// Windows side of MappedRegister: a named file mapping backed by the paging
// file for the simulated register, and a mapping of a real file for
// BLINKWERK_LPT_REGISTER. A paging-file mapping lives as long as one process
// holds it open; that is as long as a register byte can outlive a run here.

#include "mappedregister.h"

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <atomic>

namespace portio {

namespace {

std::string lastError(const std::string &what)
{
    const DWORD code = ::GetLastError();
    char buffer[256] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return what + ": " + (text.empty() ? "error " + std::to_string(code) : text);
}

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

} // namespace

std::string MappedRegister::defaultSharedName()
{
    return "Local\\blinkwerk-lpt1";
}

std::unique_ptr<MappedRegister> MappedRegister::openShared(const std::string &name, std::string &error)
{
    // A new paging-file section is zero-filled, so the register starts at 0.
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1,
                                          widen(name).c_str());
    if (!mapping) {
        error = lastError("shared memory " + name);
        return nullptr;
    }
    void *view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 1);
    if (!view) {
        error = lastError("shared memory " + name);
        ::CloseHandle(mapping);
        return nullptr;
    }
    return std::unique_ptr<MappedRegister>(
        new MappedRegister(static_cast<unsigned char *>(view), 1, reinterpret_cast<std::intptr_t>(mapping)));
}

std::unique_ptr<MappedRegister> MappedRegister::openFile(const std::string &path, std::string &error)
{
    HANDLE file = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError(path);
        return nullptr;
    }
    // Mapping one byte of an empty file grows it to one zero byte.
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 1, nullptr);
    ::CloseHandle(file); // the mapping keeps the file open
    if (!mapping) {
        error = lastError(path);
        return nullptr;
    }
    void *view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 1);
    if (!view) {
        error = lastError(path);
        ::CloseHandle(mapping);
        return nullptr;
    }
    return std::unique_ptr<MappedRegister>(
        new MappedRegister(static_cast<unsigned char *>(view), 1, reinterpret_cast<std::intptr_t>(mapping)));
}

void MappedRegister::unlinkShared(const std::string &)
{
    // Named mappings vanish with their last handle; there is no name to remove.
}

std::uint8_t MappedRegister::read()
{
    return std::atomic_ref<unsigned char>(*m_byte).load(std::memory_order_acquire);
}

void MappedRegister::write(std::uint8_t value)
{
    std::atomic_ref<unsigned char>(*m_byte).store(value, std::memory_order_release);
}

MappedRegister::~MappedRegister()
{
    ::UnmapViewOfFile(m_byte);
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

} // namespace portio
