#include "patternfile.h"

#include "sequencer.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using sequencer::ChannelCount;
using sequencer::Sequencer;
using sequencer::StepCount;

namespace patterns {

namespace {

constexpr int CellCount = ChannelCount * StepCount;

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    if (line.empty())
        return fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos)
            return fields;
        start = bar + 1;
    }
}

std::optional<std::int16_t> numberField(const std::vector<std::string_view> &fields, std::size_t index, int low,
                                        int high)
{
    if (index >= fields.size())
        return std::nullopt;
    const auto value = parseWholeNumber(fields[index]);
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

std::optional<std::int16_t> parseWholeNumber(std::string_view text)
{
    while (!text.empty() && isAsciiSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isAsciiSpace(text.back()))
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

bool loadPatternText(Sequencer &seq, std::optional<std::string_view> content)
{
    bool failed = false;

    // Steps 1 to 3: open, read the first line (up to the first CR, or to the
    // end of the file when it has none), close.
    std::string_view line;
    if (!content) {
        failed = true; // step 1; step 2 then fails too
    } else if (content->empty()) {
        failed = true; // step 2: empty file
    } else {
        line = content->substr(0, content->find('\r'));
    }

    // Step 4: the fields. An empty line has none.
    const std::vector<std::string_view> fields = splitFields(line);

    // Step 5: 160 cell steps. The position k runs over the whole load and a
    // field shorter than k gives its last character.
    const std::string_view cells = fields.empty() ? std::string_view() : fields[0];
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

    // Steps 8 and 9: the stored range, through the bars' own rule.
    if (const auto last = numberField(fields, 1, 1, 20))
        seq.setLastActiveStep(*last);
    else
        failed = true;
    if (const auto first = numberField(fields, 2, 1, 20))
        seq.setFirstActiveStep(*first);
    else
        failed = true;

    // Step 10: the step time entry; -1 leaves none selected.
    if (const auto position = numberField(fields, 3, -1, 10))
        seq.selectStepTime(*position);
    else
        failed = true;

    return failed;
}

bool loadPatternFile(Sequencer &seq, const fs::path &folder, const std::string &entryName)
{
    if (entryName.empty())
        return loadPatternText(seq, std::nullopt);
    std::ifstream in(folder / pathFromUtf8(entryName), std::ios::binary);
    if (!in)
        return loadPatternText(seq, std::nullopt);
    // Only the first line is ever used: stop reading at its CR.
    std::string content;
    char c;
    while (in.get(c)) {
        content += c;
        if (c == '\r')
            break;
    }
    if (in.bad())
        return loadPatternText(seq, std::nullopt);
    return loadPatternText(seq, std::string_view(content));
}

std::string loadErrorText(const std::string &entryName)
{
    return "Syntaxerror in Datei " + entryName;
}

namespace {

std::string systemReason(int error)
{
    return std::generic_category().message(error);
}

// Creates a new file of a random name in folder that no other file has.
// Returns its descriptor, or -1 with errno set.
int createTemporary(const fs::path &folder, fs::path &path)
{
    std::random_device entropy;
    std::mt19937 random(entropy());
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = ".bw2-save-";
        for (int i = 0; i < 8; ++i)
            name += alphabet[random() % (sizeof alphabet - 1)];
        path = folder / name;
#ifdef _WIN32
        const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes all of text and forces it to the disk. errno on failure.
bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
#ifdef _WIN32
        const int written = ::_write(fd, text.data(), unsigned(text.size()));
#else
        const ssize_t written = ::write(fd, text.data(), text.size());
#endif
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(std::size_t(written));
    }
#ifdef _WIN32
    return ::_commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

int closeFile(int fd)
{
#ifdef _WIN32
    return ::_close(fd);
#else
    return ::close(fd);
#endif
}

void syncFolder([[maybe_unused]] const fs::path &folder)
{
#ifndef _WIN32
    // Makes the rename itself durable across a power loss.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

bool isRefusedName(const std::string &name)
{
    return name == "." || name == ".." || name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos;
}

} // namespace

SaveError savePatternFile(const Sequencer &seq, const fs::path &folder, const std::string &typedName)
{
    if (isRefusedName(typedName))
        return "Der Name \"" + typedName
               + "\" ist kein gültiger Dateiname: Er darf weder \"/\" noch \"\\\" enthalten und nicht "
                 "\".\" oder \"..\" sein. Es wurde nichts gespeichert.";

    const std::string fileName = typedName + std::string(Extension);
    const auto failure = [&](int error) {
        return SaveError("Die Datei \"" + fileName + "\" konnte nicht gespeichert werden: " + systemReason(error));
    };

    fs::path temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0)
        return failure(errno);
    const bool written = writeAll(fd, patternLine(seq) + "\r\n");
    const int writeError = errno;
    const bool closed = closeFile(fd) == 0;
    if (!written || !closed) {
        const int error = !written ? writeError : errno;
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return failure(error);
    }
    std::error_code renameError;
    fs::rename(temporary, folder / pathFromUtf8(fileName), renameError);
    if (renameError) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return "Die Datei \"" + fileName + "\" konnte nicht gespeichert werden: " + renameError.message();
    }
    syncFolder(folder);
    return std::nullopt;
}

} // namespace patterns
