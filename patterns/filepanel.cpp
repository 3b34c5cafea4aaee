#include "filepanel.h"

#include "filerules.h"
#include "patternfile.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace fs = std::filesystem;

namespace patterns {

namespace {

bool hasPatternExtension(const std::string &name)
{
    if (name.size() <= Extension.size())
        return false;
    const std::string tail = name.substr(name.size() - Extension.size());
    return std::equal(tail.begin(), tail.end(), Extension.begin(), Extension.end(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b; });
}

} // namespace

FilePanel::FilePanel(sequencer::Sequencer &seq)
    : m_seq(seq)
{
}

std::vector<std::string> FilePanel::listPatternFiles(const fs::path &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code statError;
        if (!it->is_regular_file(statError))
            continue;
        const std::string name = utf8FromPath(it->path().filename());
        if (name.empty() || filerules::isHiddenEntry(it->path(), name) || !hasPatternExtension(name))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void FilePanel::pointAt(const PatternFolder &folder)
{
    m_folder = folder;
    reread();
    changed();
}

void FilePanel::setNameText(const std::string &text)
{
    m_nameText = text;
    m_saveEnabled = !m_nameText.empty();
    changed();
}

void FilePanel::pick(int index)
{
    m_picked = index >= 0 && std::size_t(index) < m_entries.size() ? index : -1;
    if (m_picked >= 0)
        m_loadEnabled = true;
    changed();
}

std::string FilePanel::pickedName() const
{
    return m_picked >= 0 ? m_entries[std::size_t(m_picked)] : std::string();
}

std::optional<ErrorMessage> FilePanel::save()
{
    // A name the save refuses anyway creates no folder.
    const bool nameRefused = m_nameText.empty() || filerules::nameRefusal(m_nameText);
    if (const std::error_code error = nameRefused ? std::error_code() : preparePatternFolder(m_folder)) {
        // The cause in the system's words as well, for whoever started the
        // program from a terminal.
        std::fprintf(stderr, "Patterns: cannot create %s: %s\n", utf8FromPath(m_folder.folder).c_str(),
                     error.message().c_str());
        std::fflush(stderr);
        return ErrorMessage{"Error", folderFailureText(m_folder.folder, error)};
    }
    std::string line;
    {
        const std::unique_lock lock = engineLock();
        line = patternLine(m_seq);
    }
    if (const SaveError error = savePatternLine(line, m_folder.folder, m_nameText))
        return ErrorMessage{"Error", *error};
    m_saveEnabled = false;
    changed();
    setNameText(std::string());
    reread();
    changed();
    return std::nullopt;
}

std::optional<ErrorMessage> FilePanel::load()
{
    const std::string name = pickedName();
    // The file is read first; only writing it into the engine holds the
    // engine's lock, so no step waits for a large file.
    const FirstLine line = readPatternFile(m_folder.folder, name);
    bool failed;
    {
        const std::unique_lock lock = engineLock();
        failed = applyFirstLine(m_seq, line);
    }
    if (failed)
        return ErrorMessage{"Error", loadErrorText(name)};
    return std::nullopt;
}

std::unique_lock<std::mutex> FilePanel::engineLock()
{
    return m_engineLock ? std::unique_lock(*m_engineLock) : std::unique_lock<std::mutex>();
}

void FilePanel::reread()
{
    // The pick stays on the same name when that file is still listed.
    const std::string picked = pickedName();
    m_entries = listPatternFiles(m_folder.folder);
    const auto it = std::find(m_entries.begin(), m_entries.end(), picked);
    m_picked = !picked.empty() && it != m_entries.end() ? int(it - m_entries.begin()) : -1;
}

void FilePanel::changed()
{
    if (m_changed)
        m_changed();
}

} // namespace patterns
