#pragma once
// Text from outside the program (a SPEC, a path, a variable, a value from the
// settings file, a packet's source) made safe to echo on one line of a
// terminal or a log: nothing in it can move the cursor, change colours, set
// the window title or start a line that looks like the program's own, and a
// huge value does not flood standard error.

#include <cstddef>
#include <string>
#include <string_view>

namespace portio {

// The bound of one line the programs say: what reaches standard error is at
// most this many bytes, whatever the text it quotes.
inline constexpr std::size_t LineLimit = 1000;

// text as one line of at most limit bytes (limits below 64 count as 64):
//  - valid UTF-8 is kept as it is (umlauts, any printable character);
//  - control characters are shown as escapes: \n, \r, \t, the other C0
//    controls and DEL as \xNN (ESC is \x1b); the C1 controls U+0080 to
//    U+009F, the line and paragraph separators U+2028 and U+2029 and the
//    bidirectional embeddings, overrides and isolates (U+202A to U+202E,
//    U+2066 to U+2069, which make a line read in another order) as \uNNNN;
//  - every byte that is not part of valid UTF-8 (a stray continuation byte,
//    a cut sequence, an overlong form, a surrogate, beyond U+10FFFF) as \xNN;
//  - a backslash stays a backslash, so that Windows paths read as written:
//    the escapes are for the reader, not to be undone;
//  - when the result would be longer than limit, its middle is left out and
//    marked "[... N bytes left out ...]", N counting the bytes of text left
//    out; the start and the end are kept, cut between whole characters.
// The result is valid UTF-8 without control characters, and printable()
// with the same limit leaves it as it is.
std::string printable(std::string_view text, std::size_t limit = LineLimit);

} // namespace portio
