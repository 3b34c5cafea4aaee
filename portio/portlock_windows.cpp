// Windows side of PortLock: a named mutex of the logon session. Whether it
// is owned does not matter; that it exists says a sequencer holds the port.
// It vanishes with the last handle, also when its process is killed.

#include "portlock.h"

#include <windows.h>

namespace portio {

PortLock::PortLock(const std::string &key)
{
    // Kernel objects of all kinds share one namespace: the simulated
    // register's mapping is Local\blinkwerk-lpt1, so the lock's name differs.
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
