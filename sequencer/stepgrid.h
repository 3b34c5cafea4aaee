#pragma once
// The light pattern: eight channels by twenty steps, plus the LiveColumn.
//
// Channel k (1 to 8) is the check-box array Check<k> of the main window;
// indexes 0 to 19 are the pattern's steps 1 to 20, index 20 is the
// LiveColumn cell in which the step engine shows what it last output.
// A cell holds 0 (off), 1 (on) or 2 (greyed, only ever set by a loaded
// pattern file); everything but 1 counts as off.

#include <array>
#include <cstdint>

namespace sequencer {

inline constexpr int ChannelCount = 8;
inline constexpr int StepCount = 20;
inline constexpr int LiveColumn = StepCount; // index of the LiveColumn cell

class StepGrid
{
public:
    // channel 1 to 8, index 0 to 20; outside that, cell() answers 0 and
    // setCell() does nothing.
    std::int16_t cell(int channel, int index) const;
    void setCell(int channel, int index, std::int16_t value);

    // The byte formed from one step's cells: channel k adds 2^(k-1) when its
    // cell holds exactly 1. Accumulated in 16 bits; at most 255.
    std::int16_t lptCode(int index) const;

    static constexpr bool isValid(int channel, int index)
    {
        return channel >= 1 && channel <= ChannelCount && index >= 0 && index <= LiveColumn;
    }

private:
    std::array<std::array<std::int16_t, StepCount + 1>, ChannelCount> m_cells{};
};

} // namespace sequencer
