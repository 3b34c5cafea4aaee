#include "steptime.h"

namespace sequencer {

std::optional<std::int16_t> matchTimeEntry(std::span<const TimeEntry> table, std::string_view text)
{
    for (const TimeEntry &entry : table)
        if (entry.text == text)
            return entry.ms;
    return std::nullopt;
}

} // namespace sequencer
