// Windows side of PortLock: a named mutex of the whole machine. Whether it
// is owned does not matter; that it exists says a sequencer holds the
// device. It vanishes with the last handle, also when its process is killed.

#include "portlock.h"

#include <windows.h>

namespace portio {

std::string lockFolder()
{
    return {};
}

PortLock::PortLock(const std::string &device, const std::string &)
{
    const std::string name = "Global\\blinkwerk-" + portLockTag(device); // ASCII only
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    if (!mutex && error == ERROR_ACCESS_DENIED) {
        // It exists but its maker may not share it: a sequencer of another
        // user, or one run as administrator, holds the device.
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
