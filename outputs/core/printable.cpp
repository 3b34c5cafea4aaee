#include "printable.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace portio {

namespace {

constexpr std::size_t MinimumLimit = 64;
// The longest marker: "[... " + 20 digits + " bytes left out ...]".
constexpr std::size_t MarkerReserve = 5 + 20 + 19;

// The length of the valid UTF-8 sequence at text[at] with its code point in
// cp, or 0 when the byte there starts none.
std::size_t decode(std::string_view text, std::size_t at, char32_t &cp)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, cp = lead & 0x1f, smallest = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, cp = lead & 0x0f, smallest = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, cp = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3f);
    }
    if (cp < smallest || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return length;
}

bool shownEscaped(char32_t cp)
{
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202a && cp <= 0x202e)
           || (cp >= 0x2066 && cp <= 0x2069);
}

// Appends the character at text[at] as it is shown; returns where the next begins.
std::size_t appendShown(std::string &out, std::string_view text, std::size_t at)
{
    char32_t cp = 0;
    const std::size_t length = decode(text, at, cp);
    char escape[12];
    if (length == 0) {
        std::snprintf(escape, sizeof escape, "\\x%02x", unsigned(static_cast<unsigned char>(text[at])));
    } else if (!shownEscaped(cp)) {
        out.append(text.substr(at, length));
        return at + length;
    } else if (cp == '\n' || cp == '\r' || cp == '\t') {
        std::snprintf(escape, sizeof escape, "\\%c", cp == '\n' ? 'n' : cp == '\r' ? 'r' : 't');
    } else if (cp < 0x80) {
        std::snprintf(escape, sizeof escape, "\\x%02x", unsigned(cp));
    } else {
        std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(cp));
    }
    out += escape;
    return at + std::max<std::size_t>(length, 1);
}

// Appends text from at on, whole characters only, while out stays within
// budget; returns where it stopped.
std::size_t appendWithin(std::string &out, std::string_view text, std::size_t at, std::size_t budget)
{
    while (at < text.size()) {
        const std::size_t before = out.size();
        const std::size_t next = appendShown(out, text, at);
        if (out.size() > budget) {
            out.resize(before);
            break;
        }
        at = next;
    }
    return at;
}

} // namespace

std::string printable(std::string_view text, std::size_t limit)
{
    limit = std::max(limit, MinimumLimit);
    std::string whole;
    if (appendWithin(whole, text, 0, limit) == text.size())
        return whole;

    // Too long: the start, the marker, the end.
    const std::size_t headBudget = (limit - MarkerReserve) / 2;
    const std::size_t tailBudget = limit - MarkerReserve - headBudget;
    std::string head;
    const std::size_t headEnd = appendWithin(head, text, 0, headBudget);

    // Each byte shows as one byte at least, so the end needs no more than
    // tailBudget bytes of text; start there on a character's first byte.
    std::size_t from = std::max(headEnd, text.size() - std::min(text.size(), tailBudget));
    for (int skipped = 0; from < text.size() && from > headEnd && skipped < 3
                          && (static_cast<unsigned char>(text[from]) & 0xc0) == 0x80;
         ++skipped)
        ++from;
    std::string tail;
    std::vector<std::pair<std::size_t, std::size_t>> starts; // of each character: in text, in tail
    for (std::size_t at = from; at < text.size();) {
        starts.emplace_back(at, tail.size());
        at = appendShown(tail, text, at);
    }
    std::size_t first = 0;
    while (first < starts.size() && tail.size() - starts[first].second > tailBudget)
        ++first;
    const std::size_t tailStart = first < starts.size() ? starts[first].first : text.size();
    if (first < starts.size())
        tail.erase(0, starts[first].second);
    else
        tail.clear();
    return head + "[... " + std::to_string(tailStart - headEnd) + " bytes left out ...]" + tail;
}

} // namespace portio
