#include "outputname.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace portio::spectext {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::optional<long> number(std::string_view text, long first, long last)
{
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](unsigned char c) {
            return c >= '0' && c <= '9';
        }))
        return std::nullopt;
    long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value < first || value > last)
        return std::nullopt;
    return value;
}

bool visibleAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; });
}

bool withoutControlCharacters(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

} // namespace portio::spectext
