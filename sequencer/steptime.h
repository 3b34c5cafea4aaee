#pragma once
// The two lists that set the step timer: the step time ("Speed:") and the
// correction for the computer's own time per step ("CPU-Zeit:"). An entry is
// turned into milliseconds by its text, compared exactly with the table.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace sequencer {

struct TimeEntry
{
    std::string_view text;
    std::int16_t ms;
};

inline constexpr std::array<TimeEntry, 11> StepTimeTable = {{
    {"50ms", 50}, {"80ms", 80}, {"100ms", 100}, {"150ms", 150}, {"200ms", 200}, {"250ms", 250},
    {"300ms", 300}, {"350ms", 350}, {"400ms", 400}, {"450ms", 450}, {"500ms", 500},
}};

inline constexpr std::array<TimeEntry, 6> CpuTimeTable = {{
    {"0ms", 0}, {"1ms", 1}, {"2ms", 2}, {"3ms", 3}, {"4ms", 4}, {"5ms", 5},
}};

// The value of the first entry whose text equals text exactly (same
// characters, same case, whole text); none when no entry is equal.
std::optional<std::int16_t> matchTimeEntry(std::span<const TimeEntry> table, std::string_view text);

} // namespace sequencer
