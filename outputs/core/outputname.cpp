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
    // C0, DEL, and a C1 control in UTF-8 (C2 80 to C2 9F).
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f
            || (c == 0xc2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80))
            return false;
    }
    return true;
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
