#include "recordingport.h"

#include "portbackend.h"

namespace portio {

void RecordingPort::out32(std::int16_t port, std::int16_t value)
{
    const std::lock_guard lock(m_mutex);
    m_calls.push_back({Call::Out, port, value});
    if (port == Lpt1DataPort)
        m_register = value;
}

std::int16_t RecordingPort::inp32(std::int16_t port)
{
    const std::lock_guard lock(m_mutex);
    std::int16_t value = m_register;
    if (!m_script.empty()) {
        value = m_script.front();
        m_script.pop_front();
    }
    m_calls.push_back({Call::In, port, value});
    return value;
}

void RecordingPort::queueReads(std::initializer_list<std::int16_t> values)
{
    const std::lock_guard lock(m_mutex);
    m_script.insert(m_script.end(), values);
}

std::vector<RecordingPort::Call> RecordingPort::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

void RecordingPort::clear()
{
    const std::lock_guard lock(m_mutex);
    m_calls.clear();
}

std::vector<int> RecordingPort::writtenBytes() const
{
    const std::lock_guard lock(m_mutex);
    std::vector<int> bytes;
    for (const Call &call : m_calls)
        if (call.kind == Call::Out && call.port == Lpt1DataPort)
            bytes.push_back(call.value);
    return bytes;
}

} // namespace portio
