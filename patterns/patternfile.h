#pragma once
// The ".bw2" pattern file: one line of ASCII text ended by CR LF,
//
//   <160 cell digits>|<LastActiveStep>|<FirstActiveStep>|<step time position>
//
// the cells channel by channel (character 20*(c-1)+s is channel c, step s),
// the numbers in their shortest decimal form, the position -1 when no step
// time is selected. Saving reads the sequencer; loading writes it back
// through the same rules as a user's change (range bars, step time pick),
// as a fixed list of steps that each may fail without undoing the others.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sequencer {
class Sequencer;
}

namespace patterns {

inline constexpr std::string_view Extension = ".bw2";

// The line that describes the pattern held by seq, without CR LF.
std::string patternLine(const sequencer::Sequencer &seq);

// A whole decimal number as fields 2 to 4 hold it: ASCII white space around
// it, an optional leading "-", decimal digits, within 16 bits. Anything else
// ("+5", "1.0", "1e1", "", "70000") is none.
std::optional<std::int16_t> parseWholeNumber(std::string_view text);

// Loads the content of a pattern file into seq; nullopt stands for a file
// that could not be opened. Returns true when any step failed, in which case
// the caller reports the load error once.
bool loadPatternText(sequencer::Sequencer &seq, std::optional<std::string_view> content);

// Opens the file entryName (as the list shows it) in folder and loads it.
// An empty name is no file. Returns true when any step failed.
bool loadPatternFile(sequencer::Sequencer &seq, const std::filesystem::path &folder, const std::string &entryName);

// The text of the load error message for the picked entry's name.
std::string loadErrorText(const std::string &entryName);

// The outcome of a save: empty when the file was written whole, otherwise a
// German text for the error box that names the file and the reason.
using SaveError = std::optional<std::string>;

// Saves the pattern of seq as <typedName>.bw2 in folder (".bw2" is appended
// in every case), replacing an existing file. A name with a path separator
// ("/" or "\"), a NUL character, or one that is "." or "..", is refused:
// it would not name a file of the folder. The new content is written to a
// temporary file in the same folder and renamed over the old one, so an
// existing pattern is either kept whole or replaced whole; on failure no
// temporary file is left behind.
SaveError savePatternFile(const sequencer::Sequencer &seq, const std::filesystem::path &folder,
                          const std::string &typedName);

// Names are UTF-8 on every platform; these convert to and from paths.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string utf8FromPath(const std::filesystem::path &path);

} // namespace patterns
