#include "patternfile.h"

#include "fileio.h"
#include "filerules.h"
#include "sequencer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using sequencer::ChannelCount;
using sequencer::Sequencer;
using sequencer::StepCount;

namespace patterns {

namespace {

constexpr int CellCount = ChannelCount * StepCount;

// Blocks of this size are read while looking for the end of the first line.
constexpr std::size_t ReadBlockSize = 256 * 1024;

// Blank, tab, line feed, vertical tab, form feed, carriage return.
bool isAsciiSpace(char c)
{
    return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

std::optional<std::int16_t> inRange(std::optional<std::int16_t> value, int low, int high)
{
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return value;
}

} // namespace

fs::path pathFromUtf8(std::string_view utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8FromPath(const fs::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string patternLine(const Sequencer &seq)
{
    std::string line;
    line.reserve(CellCount + 12);
    for (int channel = 1; channel <= ChannelCount; ++channel)
        for (int index = 0; index < StepCount; ++index)
            line += std::to_string(seq.cell(channel, index));
    line += '|' + std::to_string(seq.lastActiveStep());
    line += '|' + std::to_string(seq.firstActiveStep());
    line += '|' + std::to_string(seq.stepTimePosition());
    return line;
}

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Skips a run of the byte c, eight bytes at a time while they all match.
const char *skipRun(const char *p, const char *end, char c)
{
    std::uint64_t eight;
    std::memset(&eight, c, sizeof eight);
    for (std::uint64_t word; end - p >= 8; p += 8) {
        std::memcpy(&word, p, sizeof word);
        if (word != eight)
            break;
    }
    while (p < end && *p == c)
        ++p;
    return p;
}

// Skips white space; a long run of blanks costs little.
const char *skipSpace(const char *p, const char *end)
{
    static const auto blank = [] {
        std::array<unsigned char, 256> table{};
        for (int c = 0; c < 256; ++c)
            table[std::size_t(c)] = isAsciiSpace(char(c));
        return table;
    }();
    const auto at = [](const char *q) { return blank[static_cast<unsigned char>(*q)]; };
    p = skipRun(p, end, ' '); // the common blank, a word at a time
    for (; end - p >= 8; p += 8)
        if (!(at(p) & at(p + 1) & at(p + 2) & at(p + 3) & at(p + 4) & at(p + 5) & at(p + 6) & at(p + 7)))
            break;
    while (p < end && isAsciiSpace(*p))
        ++p;
    return p;
}

} // namespace

void WholeNumberParser::feed(std::string_view piece)
{
    const char *p = piece.data();
    const char *const end = p + piece.size();
    while (p < end) {
        switch (m_state) {
        case State::Leading:
        case State::Trailing:
            p = skipSpace(p, end);
            if (p == end)
                return;
            if (m_state == State::Trailing) {
                m_state = State::Invalid; // something after the number
                return;
            }
            if (*p == '-') {
                m_negative = true;
                m_state = State::AfterSign;
                ++p;
                break;
            }
            [[fallthrough]];
        case State::AfterSign:
            if (!isDigit(*p)) {
                m_state = State::Invalid;
                return;
            }
            m_state = State::Digits;
            [[fallthrough]];
        case State::Digits:
            if (m_value == 0)
                p = skipRun(p, end, '0'); // leading zeros add nothing
            for (; p < end && isDigit(*p); ++p) {
                m_value = m_value * 10 + (*p - '0');
                if (m_value > 32768) {
                    m_state = State::Invalid; // more digits only make it larger
                    return;
                }
            }
            if (p == end)
                return;
            if (!isAsciiSpace(*p)) {
                m_state = State::Invalid;
                return;
            }
            m_state = State::Trailing;
            ++p;
            break;
        case State::Invalid:
            return; // nothing can make it a number again
        }
    }
}

std::optional<std::int16_t> WholeNumberParser::result() const
{
    if (m_state != State::Digits && m_state != State::Trailing)
        return std::nullopt;
    const long value = m_negative ? -m_value : m_value;
    if (value > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(value);
}

std::optional<std::int16_t> parseWholeNumber(std::string_view text)
{
    WholeNumberParser parser;
    parser.feed(text);
    return parser.result();
}

bool FirstLineReader::feed(std::string_view block)
{
    if (m_done)
        return false;
    if (block.empty())
        return true;
    m_anyByte = true;
    // The line ends at its first CR; nothing after it is read.
    if (const void *cr = std::memchr(block.data(), '\r', block.size())) {
        block = block.substr(0, std::size_t(static_cast<const char *>(cr) - block.data()));
        m_done = true;
    }
    if (!block.empty())
        m_lineStarted = true;
    while (!block.empty() && m_field < 4) {
        const void *bar = std::memchr(block.data(), '|', block.size());
        const std::size_t length = bar ? std::size_t(static_cast<const char *>(bar) - block.data()) : block.size();
        const std::string_view piece = block.substr(0, length);
        if (m_field == 0)
            m_line.cells.append(piece.substr(0, std::size_t(CellCount) - m_line.cells.size()));
        else
            m_number.feed(piece);
        if (!bar)
            break;
        endField();
        block.remove_prefix(length + 1);
    }
    // A fifth field and whatever follows it are never used.
    if (m_field >= 4)
        m_done = true;
    return !m_done;
}

void FirstLineReader::endField()
{
    if (m_field >= 1 && m_field <= 3) {
        m_line.numbers[m_field - 1] = m_number.result();
        m_number = WholeNumberParser();
    }
    ++m_field;
}

FirstLine FirstLineReader::finish()
{
    m_line.read = m_anyByte;
    if (m_lineStarted) {
        if (m_field < 4)
            endField();
        m_line.fieldCount = m_field;
    }
    m_done = true;
    return m_line;
}

bool applyFirstLine(Sequencer &seq, const FirstLine &line)
{
    // Steps 1 and 2: the file could not be opened, or it is empty.
    bool failed = !line.read;

    // Step 5: 160 cell steps. The position k runs over the whole load and a
    // field shorter than k gives its last character.
    const std::string_view cells = line.fieldCount >= 1 ? std::string_view(line.cells) : std::string_view();
    int k = 0;
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        for (int index = 0; index < StepCount; ++index) {
            ++k;
            if (cells.empty()) {
                failed = true;
                continue;
            }
            const char digit = cells[std::min<std::size_t>(std::size_t(k), cells.size()) - 1];
            if (digit < '0' || digit > '2') {
                failed = true;
                continue;
            }
            seq.setCell(channel, index, std::int16_t(digit - '0'));
        }
    }

    // Steps 6 and 7: the full range first, so the range in force before the
    // load never influences the result.
    seq.setLastActiveStep(20);
    seq.setFirstActiveStep(1);

    const auto field = [&line](int number, int low, int high) {
        return line.fieldCount >= number ? inRange(line.numbers[number - 2], low, high) : std::nullopt;
    };
    // Steps 8 and 9: the stored range, through the bars' own rule.
    if (const auto last = field(2, 1, 20))
        seq.setLastActiveStep(*last);
    else
        failed = true;
    if (const auto first = field(3, 1, 20))
        seq.setFirstActiveStep(*first);
    else
        failed = true;

    // Step 10: the step time entry; -1 leaves none selected.
    if (const auto position = field(4, -1, 10))
        seq.selectStepTime(*position);
    else
        failed = true;

    return failed;
}

bool loadPatternText(Sequencer &seq, std::optional<std::string_view> content)
{
    if (!content)
        return applyFirstLine(seq, FirstLine());
    FirstLineReader reader;
    reader.feed(*content);
    return applyFirstLine(seq, reader.finish());
}

FirstLine readPatternFile(const fs::path &folder, const std::string &entryName)
{
    if (entryName.empty())
        return FirstLine();
    const int fd = fileio::openRegularForReading(folder / pathFromUtf8(entryName));
    if (fd < 0)
        return FirstLine();
    FirstLineReader reader;
    const auto block = std::make_unique<char[]>(ReadBlockSize);
    bool readError = false;
    for (;;) {
        const long got = fileio::readSome(fd, block.get(), ReadBlockSize);
        if (got < 0)
            readError = true;
        if (got <= 0 || !reader.feed(std::string_view(block.get(), std::size_t(got))))
            break;
    }
    fileio::closeFile(fd);
    // A file that fails while being read counts as one that cannot be read.
    if (readError)
        return FirstLine();
    return reader.finish();
}

bool loadPatternFile(Sequencer &seq, const fs::path &folder, const std::string &entryName)
{
    return applyFirstLine(seq, readPatternFile(folder, entryName));
}

std::string loadErrorText(const std::string &entryName)
{
    return "Syntaxerror in Datei " + entryName;
}

std::string shortenMiddle(std::string_view utf8, std::size_t maxChars)
{
    // Character starts: every byte that is not a UTF-8 continuation byte.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < utf8.size(); ++i)
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80)
            starts.push_back(i);
    if (starts.size() <= maxChars)
        return std::string(utf8);
    if (maxChars == 0)
        return std::string();
    const std::size_t tail = (maxChars - 1) / 2;
    const std::size_t head = maxChars - 1 - tail;
    std::string shortened(utf8.substr(0, starts[head]));
    shortened += "\xE2\x80\xA6"; // …
    shortened += utf8.substr(starts[starts.size() - tail]);
    return shortened;
}

std::string saveFailureReason(int error)
{
    if (auto reason = filerules::platformReason(error))
        return *reason;
    switch (static_cast<std::errc>(error)) {
    case std::errc::no_space_on_device:
        return "Auf dem Datenträger ist kein Platz mehr frei.";
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
        return "Es fehlt die Berechtigung, in diesem Ordner zu schreiben.";
    case std::errc::filename_too_long:
        return "Der Name ist zu lang.";
    case std::errc::read_only_file_system:
        return "Der Datenträger ist schreibgeschützt.";
    case std::errc::no_such_file_or_directory:
    case std::errc::not_a_directory:
        return "Der Ordner existiert nicht.";
    case std::errc::file_too_large:
        return "Die Datei wäre größer, als das System erlaubt.";
    case std::errc::is_a_directory:
        return "Dort liegt ein Ordner mit demselben Namen.";
    case std::errc::io_error:
        return "Der Datenträger meldet einen Schreibfehler.";
    default:
        return std::generic_category().message(error) + ".";
    }
}

namespace {

// A name as an error box shows it: control characters made visible, and a
// long name shortened in the middle.
std::string shownName(std::string_view name, std::size_t maxChars = 60)
{
    std::string visible;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            visible += "\xEF\xBF\xBD"; // U+FFFD
        else
            visible += c;
    }
    return shortenMiddle(visible, maxChars);
}

std::string shownFolder(const fs::path &folder)
{
    return shownName(utf8FromPath(folder), 80);
}

} // namespace

std::string folderFailureReason(std::error_code error)
{
    const std::error_condition condition = error.default_error_condition();
    if (condition == std::errc::permission_denied || condition == std::errc::operation_not_permitted)
        return "Keine Berechtigung, ihn dort anzulegen.";
    if (condition == std::errc::not_a_directory || condition == std::errc::file_exists)
        return "An seiner Stelle oder an der Stelle eines übergeordneten Ordners liegt eine Datei.";
    if (condition.category() == std::generic_category())
        return saveFailureReason(condition.value());
    return error.message() + ".";
}

std::string folderFailureText(const fs::path &folder, std::error_code error)
{
    if (folder.empty())
        return "Für diesen Benutzer ist kein Ordner für Muster bekannt (kein Benutzerordner). "
               "Es wurde nichts gespeichert.";
    return "Der Ordner \"" + shownFolder(folder) + "\" für die Muster konnte nicht angelegt werden. "
           + folderFailureReason(error) + " Es wurde nichts gespeichert.";
}

SaveError savePatternFile(const Sequencer &seq, const fs::path &folder, const std::string &typedName)
{
    return savePatternLine(patternLine(seq), folder, typedName);
}

SaveError savePatternLine(const std::string &line, const fs::path &folder, const std::string &typedName)
{
    if (typedName.empty())
        return "Es wurde kein Dateiname eingegeben. Es wurde nichts gespeichert.";
    if (const auto refusal = filerules::nameRefusal(typedName))
        return "Der Name \"" + shownName(typedName) + "\" ist als Dateiname nicht möglich. " + *refusal
               + " Es wurde nichts gespeichert.";

    const std::string fileName = typedName + std::string(Extension);
    const fs::path target = folder / pathFromUtf8(fileName);
    if (fileio::isReadOnly(target))
        return "Die Datei \"" + shownName(fileName) + "\" im Ordner \"" + shownFolder(folder)
               + "\" ist schreibgeschützt und wurde nicht ersetzt. Es wurde nichts gespeichert.";

    const auto failure = [&](int error) {
        return SaveError("Die Datei \"" + shownName(fileName) + "\" konnte im Ordner \"" + shownFolder(folder)
                         + "\" nicht gespeichert werden. " + saveFailureReason(error));
    };

    fs::path temporary;
    const int fd = fileio::createTemporary(folder, temporary);
    if (fd < 0)
        return failure(errno);
    const bool written = fileio::writeAllAndSync(fd, line + "\r\n");
    const int writeError = errno;
    const bool closed = fileio::closeFile(fd) == 0;
    const int closeError = errno;
    const int error = !written ? writeError : !closed ? closeError : fileio::replaceFile(temporary, target);
    if (error != 0) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return failure(error);
    }
    fileio::syncFolder(folder);
    return std::nullopt;
}

} // namespace patterns
