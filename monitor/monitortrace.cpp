#include "monitortrace.h"

#ifdef BLINKWERK_MONITOR_TRACE

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace monitor {

namespace {

struct Record
{
    long long nanoseconds; // steady clock
    int byte;
};

class Trace
{
public:
    Trace() { m_records.reserve(1 << 16); }
    ~Trace()
    {
        const char *path = std::getenv("BLINKWERK_MONITOR_TRACE_FILE");
        if (!path)
            return;
        if (std::FILE *file = std::fopen(path, "w")) {
            for (const Record &record : m_records)
                std::fprintf(file, "%lld,%d\n", record.nanoseconds, record.byte);
            std::fclose(file);
        }
    }
    void add(int byte)
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        m_records.push_back({std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), byte});
    }

private:
    std::vector<Record> m_records;
};

Trace g_trace;

} // namespace

void traceLampsShown(int byte)
{
    g_trace.add(byte);
}

} // namespace monitor

#endif
