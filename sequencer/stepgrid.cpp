#include "stepgrid.h"

namespace sequencer {

std::int16_t StepGrid::cell(int channel, int index) const
{
    return isValid(channel, index) ? m_cells[channel - 1][index] : std::int16_t(0);
}

void StepGrid::setCell(int channel, int index, std::int16_t value)
{
    if (isValid(channel, index))
        m_cells[channel - 1][index] = value;
}

std::int16_t StepGrid::lptCode(int index) const
{
    std::int16_t code = 0;
    std::int16_t weight = 1;
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (cell(channel, index) == 1)
            code = static_cast<std::int16_t>(code + weight);
        weight = static_cast<std::int16_t>(weight * 2);
    }
    return code;
}

} // namespace sequencer
