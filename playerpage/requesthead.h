#pragma once
// The head of an HTTP/1.x request, as the page reads it from a connection:
// the request line and the few header fields the page acts on. Free of Qt.
//
// A parser of outside input: it looks at no more than MaxHeadBytes bytes,
// bounds every part before keeping it, and refuses what it does not
// understand with the status to answer instead of guessing:
//
//   request line   METHOD SP TARGET SP HTTP/1.1 (or 1.0) CRLF; METHOD of
//                  1 to 16 capital letters, TARGET an absolute path of at
//                  most MaxTargetBytes visible ASCII characters (414 beyond)
//   header lines   Name ":" OWS value OWS CRLF, at most MaxHeaderLines (431);
//                  no folded lines, no control characters
//   end            an empty line (CRLF); no CRLF CRLF within MaxHeadBytes: 431
//
// Host, Origin, Content-Type and Content-Length may come once each (a
// second is refused: two lengths are how requests are smuggled); Cookie
// lines are joined. Any Transfer-Encoding is noted, for the server refuses
// bodies it cannot count. Other versions than HTTP/1.x: 505; anything else
// malformed: 400.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace player {

inline constexpr std::size_t MaxHeadBytes = 8192;
inline constexpr std::size_t MaxTargetBytes = 2048;
inline constexpr std::size_t MaxHeaderLines = 64;

struct RequestHead
{
    std::string method;             // "GET", "POST", ...
    std::string path;               // the target up to a "?"
    std::optional<std::string> host; // as sent, in lower case
    std::optional<std::string> origin;
    std::optional<std::string> contentType; // in lower case, parameters kept
    std::optional<std::uint64_t> contentLength; // saturates at 2^53
    std::string cookie;             // every Cookie line, joined by "; "
    bool transferEncoding = false;  // the request names one: its body cannot be counted
    bool upgradeWebSocket = false;  // Upgrade: websocket
    std::size_t length = 0;         // bytes of the head, its empty line included
};

struct HeadParse
{
    enum class Outcome { Incomplete, Complete, Refused };
    Outcome outcome = Outcome::Incomplete;
    int status = 0; // Refused: the status to answer
    RequestHead head; // Complete: what the head says
};

// bytes: what the connection has received so far, from the request's first
// byte. Incomplete while the empty line has not come and fewer than
// MaxHeadBytes bytes are there. Never reads past bytes.
HeadParse parseRequestHead(std::string_view bytes);

} // namespace player
