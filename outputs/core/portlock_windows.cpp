// Windows side of PortLock: a named mutex of the logon session. Whether it
// is owned does not matter; that it exists says a sequencer holds the port.
// It vanishes with the last handle, also when its process is killed.

#include "portlock.h"

#include <windows.h>

#include <string>

namespace portio {

std::optional<std::string> registerFileIdentity(const std::string &path, bool create)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), length);
    // FILE_FLAG_BACKUP_SEMANTICS: a folder opens too and is told apart below.
    const HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info {};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":"
           + std::to_string(info.nFileIndexLow);
}

PortLock::PortLock(const std::string &key)
{
    const std::string name = "Local\\blinkwerk-sequencer-" + portLockTag(key); // ASCII only
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    if (!mutex && error == ERROR_ACCESS_DENIED) {
        // It exists but its maker may not share it: a sequencer run as
        // administrator holds the port.
        m_state = State::Busy;
        return;
    }
    if (!mutex) {
        m_state = State::Failed;
        m_error = "mutex " + name + ": error " + std::to_string(error);
        return;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        m_state = State::Busy;
        return;
    }
    m_handle = reinterpret_cast<std::intptr_t>(mutex);
    m_state = State::Held;
}

PortLock::~PortLock()
{
    if (m_state == State::Held)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

} // namespace portio
