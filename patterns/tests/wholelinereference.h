#pragma once
// The load as a plain whole-line reader: the file's first line held whole,
// cut into fields, each number field parsed from its whole text. It serves
// as the reference that the block reader must match on every input; it
// shares no code with the block reader.

#include "sequencer.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace reference {

inline std::optional<std::int16_t> wholeNumber(std::string_view text)
{
    const auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 32768)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

// Loads content (nullopt: a file that could not be opened) into seq;
// returns true when any step failed.
inline bool loadWholeLine(sequencer::Sequencer &seq, std::optional<std::string_view> content)
{
    bool failed = false;
    std::string_view line;
    if (!content || content->empty())
        failed = true;
    else
        line = content->substr(0, content->find('\r'));

    std::vector<std::string_view> fields;
    for (std::size_t start = 0; !line.empty();) {
        const std::size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos)
            break;
        start = bar + 1;
    }

    const std::string_view cells = fields.empty() ? std::string_view() : fields[0];
    int k = 0;
    for (int channel = 1; channel <= 8; ++channel) {
        for (int index = 0; index < 20; ++index) {
            ++k;
            const char digit = cells.empty() ? 'x' : cells[std::min<std::size_t>(std::size_t(k), cells.size()) - 1];
            if (digit < '0' || digit > '2')
                failed = true;
            else
                seq.setCell(channel, index, std::int16_t(digit - '0'));
        }
    }

    seq.setLastActiveStep(20);
    seq.setFirstActiveStep(1);
    const auto number = [&](std::size_t index, int low, int high) -> std::optional<std::int16_t> {
        if (index >= fields.size())
            return std::nullopt;
        const auto value = wholeNumber(fields[index]);
        return value && *value >= low && *value <= high ? value : std::nullopt;
    };
    if (const auto last = number(1, 1, 20))
        seq.setLastActiveStep(*last);
    else
        failed = true;
    if (const auto first = number(2, 1, 20))
        seq.setFirstActiveStep(*first);
    else
        failed = true;
    if (const auto position = number(3, -1, 10))
        seq.selectStepTime(*position);
    else
        failed = true;
    return failed;
}

} // namespace reference
