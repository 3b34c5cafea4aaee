#pragma once
// Benchmark hook: in a build with BLINKWERK_MONITOR_TRACE the monitor
// records, on a monotonic clock, each moment its eight lamps were set and
// the byte they show, and writes the records to the file named by
// BLINKWERK_MONITOR_TRACE_FILE when the program ends. In every other build
// the hook compiles to nothing.

#ifdef BLINKWERK_MONITOR_TRACE
namespace monitor {
void traceLampsShown(int byte);
}
#define BLINKWERK_TRACE_LAMPS(byte) ::monitor::traceLampsShown(byte)
#else
#define BLINKWERK_TRACE_LAMPS(byte) ((void)(byte))
#endif
