#include "requesthead.h"

#include <algorithm>

namespace player {

namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::uint64_t MaxLength = std::uint64_t(1) << 53;

bool isTokenChar(char c)
{
    // RFC 9110 tchar.
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return out;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && lowered(a) == lowered(b);
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

HeadParse refused(int status)
{
    HeadParse parse;
    parse.outcome = HeadParse::Outcome::Refused;
    parse.status = status;
    return parse;
}

// "METHOD SP TARGET SP HTTP/1.x"; 0 when it holds, else the status.
int readRequestLine(std::string_view line, RequestHead &head)
{
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return 400;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (method.empty() || method.size() > 16
        || !std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return 400;
    if (target.size() > MaxTargetBytes)
        return 414;
    if (target.empty() || target.front() != '/'
        || !std::all_of(target.begin(), target.end(), [](char c) { return c > 0x20 && c < 0x7f; }))
        return 400;
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.' || version[5] < '0'
        || version[5] > '9' || version[7] < '0' || version[7] > '9')
        return 400;
    if (version[5] != '1')
        return 505;
    head.method = std::string(method);
    head.path = std::string(target.substr(0, target.find('?')));
    return 0;
}

// One "Name: value" line into head; 0 when it holds, else the status.
int readHeaderLine(std::string_view line, RequestHead &head)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return 400; // also a folded line, which starts with white space
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), isTokenChar))
        return 400;
    const std::string_view value = trimmed(line.substr(colon + 1));
    // Visible characters, spaces and tabs; bytes above 0x7f are allowed
    // by HTTP and kept as they are.
    if (std::any_of(value.begin(), value.end(),
                    [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f; }))
        return 400;

    const auto once = [&](std::optional<std::string> &field, std::string text) {
        if (field)
            return 400;
        field = std::move(text);
        return 0;
    };
    if (sameName(name, "host"))
        return once(head.host, lowered(value));
    if (sameName(name, "origin"))
        return once(head.origin, std::string(value));
    if (sameName(name, "content-type"))
        return once(head.contentType, lowered(value));
    if (sameName(name, "content-length")) {
        if (head.contentLength || value.empty()
            || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return 400;
        std::uint64_t length = 0;
        for (const char c : value)
            length = std::min(MaxLength, length * 10 + std::uint64_t(c - '0'));
        head.contentLength = length;
        return 0;
    }
    if (sameName(name, "cookie")) {
        if (!head.cookie.empty())
            head.cookie += "; ";
        head.cookie += value;
        return 0;
    }
    if (sameName(name, "transfer-encoding")) {
        head.transferEncoding = true;
        return 0;
    }
    if (sameName(name, "upgrade")) {
        head.upgradeWebSocket = sameName(value, "websocket");
        return 0;
    }
    return 0;
}

} // namespace

HeadParse parseRequestHead(std::string_view bytes)
{
    const std::string_view window = bytes.substr(0, MaxHeadBytes);
    const std::size_t end = window.find("\r\n\r\n");
    if (end == std::string_view::npos)
        return window.size() < MaxHeadBytes ? HeadParse{} : refused(431);

    HeadParse parse;
    RequestHead &head = parse.head;
    head.length = end + 4;
    std::string_view rest = window.substr(0, end + 2); // each line with its CRLF
    std::size_t lineCount = 0;
    while (!rest.empty()) {
        const std::size_t lineEnd = rest.find(LineEnd);
        const std::string_view line = rest.substr(0, lineEnd);
        rest.remove_prefix(lineEnd + LineEnd.size());
        // A bare CR or LF inside a line is no line end here, and no text.
        if (line.find_first_of("\r\n") != std::string_view::npos)
            return refused(400);
        if (lineCount > MaxHeaderLines)
            return refused(431);
        const int status = lineCount == 0 ? readRequestLine(line, head) : readHeaderLine(line, head);
        if (status != 0)
            return refused(status);
        ++lineCount;
    }
    parse.outcome = HeadParse::Outcome::Complete;
    return parse;
}

} // namespace player
