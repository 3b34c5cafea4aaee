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
#include <system_error>

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

// parseWholeNumber over text that arrives in pieces, in constant memory:
// feeding the pieces of a text one after the other gives the same result as
// parsing it whole, however long the text and wherever it is cut.
class WholeNumberParser
{
public:
    void feed(std::string_view piece);
    std::optional<std::int16_t> result() const;

private:
    enum class State { Leading, AfterSign, Digits, Trailing, Invalid };
    State m_state = State::Leading;
    bool m_negative = false;
    long m_value = 0; // never above 32768
};

// What steps 4 to 10 of the load use of a file: whether steps 1 and 2
// succeeded, how many fields the first line has (0 for an empty line, at
// most 4 counted), the first 160 characters of field 1 (a cell field never
// uses more) and fields 2 to 4 as whole numbers.
struct FirstLine
{
    bool read = false;
    int fieldCount = 0;
    std::string cells;
    std::optional<std::int16_t> numbers[3];
};

// Reads the first line of a file from its blocks, keeping only what the
// load uses, so a file of any size costs a few hundred bytes. Feed the
// blocks in order while feed() returns true; then finish(). feed() returns
// false once nothing further can change the result (the line ended, or its
// fourth field did).
class FirstLineReader
{
public:
    bool feed(std::string_view block);
    FirstLine finish();

private:
    void endField();

    FirstLine m_line;
    bool m_anyByte = false;
    bool m_lineStarted = false;
    bool m_done = false;
    int m_field = 0; // 0-based index of the field being read
    WholeNumberParser m_number;
};

// Steps 5 to 10 of the load: writes line into seq through the same rules as
// a user's change. Returns true when any step, steps 1 and 2 included,
// failed.
bool applyFirstLine(sequencer::Sequencer &seq, const FirstLine &line);

// Loads the content of a pattern file into seq; nullopt stands for a file
// that could not be opened. Returns true when any step failed, in which case
// the caller reports the load error once.
bool loadPatternText(sequencer::Sequencer &seq, std::optional<std::string_view> content);

// Opens the file entryName (as the list shows it) in folder and loads it.
// An empty name is no file; anything but a regular file (a FIFO, a folder, a
// device) is a file that cannot be opened, and opening never waits. The
// file is read in blocks, so its size costs neither memory nor more time
// than one pass. Returns true when any step failed.
bool loadPatternFile(sequencer::Sequencer &seq, const std::filesystem::path &folder, const std::string &entryName);
// Its first half: what steps 1 to 4 make of the file, without touching a
// sequencer (read fails for a file that cannot be opened or read). The
// second half is applyFirstLine.
FirstLine readPatternFile(const std::filesystem::path &folder, const std::string &entryName);

// The text of the load error message for the picked entry's name.
std::string loadErrorText(const std::string &entryName);

// The outcome of a save: empty when the file was written whole, otherwise a
// German text for the error box that names the file, the folder and the
// reason (names shortened with shortenMiddle, to be shown as plain text).
using SaveError = std::optional<std::string>;

// Saves the pattern of seq as <typedName>.bw2 in folder (".bw2" is appended
// in every case), replacing an existing file. Refused before anything is
// written: an empty name, a name the platform cannot store as a plain,
// listed file of the folder (filerules.h), and an existing file that the
// user made read-only. The new content is written to a temporary file in
// the same folder, forced to the disk and renamed over the old one, so an
// existing pattern is either kept whole or replaced whole; on failure no
// temporary file is left behind.
SaveError savePatternFile(const sequencer::Sequencer &seq, const std::filesystem::path &folder,
                          const std::string &typedName);
// The same for a line formed already (patternLine).
SaveError savePatternLine(const std::string &line, const std::filesystem::path &folder, const std::string &typedName);

// A short German sentence for a failed save's errno value: the common
// failures (disk full, no permission, name too long, read-only, folder
// missing...) in German, any other in the system's own words.
std::string saveFailureReason(int error);

// A short German sentence for why the pattern folder could not be created:
// the folder's own failures (no permission, a file in its place) in words
// of their own, the others as saveFailureReason says them.
std::string folderFailureReason(std::error_code error);

// The text of the error box for a save that found no pattern folder: folder
// could not be created (error), or there is none (folder empty).
std::string folderFailureText(const std::filesystem::path &folder, std::error_code error);

// utf8 when it has at most maxChars characters, otherwise its start and its
// end joined by "…", maxChars characters in all, so that the ending (the
// extension) stays visible. Never cuts a UTF-8 sequence.
std::string shortenMiddle(std::string_view utf8, std::size_t maxChars = 60);

// Names are UTF-8 on every platform; these convert to and from paths.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string utf8FromPath(const std::filesystem::path &path);

} // namespace patterns
