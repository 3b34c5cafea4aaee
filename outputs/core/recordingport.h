#pragma once
// An in-process backend for tests and benchmarks: keeps every Out32 and
// Inp32 call in order. Reads return the next scripted value when one is
// queued, otherwise the byte last written (as a real data register in
// compatibility mode does). Any thread may call it (the step clock writes
// while a test reads).

#include "portbackend.h"

#include <deque>
#include <mutex>
#include <vector>

namespace portio {

class RecordingPort final : public PortBackend
{
public:
    struct Call
    {
        enum Kind { Out, In } kind;
        std::int16_t port;
        std::int16_t value; // written, or returned
        bool operator==(const Call &) const = default;
    };

    void out32(std::int16_t port, std::int16_t value) override;
    std::int16_t inp32(std::int16_t port) override;

    void queueReads(std::initializer_list<std::int16_t> values);

    std::vector<Call> calls() const;
    // The values of all writes to the LPT1 data register, in order.
    std::vector<int> writtenBytes() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::deque<std::int16_t> m_script;
    std::int16_t m_register = 0;
};

} // namespace portio
