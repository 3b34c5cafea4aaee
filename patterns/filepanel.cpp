#include "filepanel.h"

#include "patternfile.h"

#include <algorithm>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

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

bool isHidden(const fs::directory_entry &entry, const std::string &name)
{
#ifdef _WIN32
    (void)name;
    const DWORD attributes = ::GetFileAttributesW(entry.path().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES
           && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
    (void)entry;
    return name.front() == '.';
#endif
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
        if (name.empty() || isHidden(*it, name) || !hasPatternExtension(name))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void FilePanel::pointAt(const fs::path &folder)
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
    if (const SaveError error = savePatternFile(m_seq, m_folder, m_nameText))
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
    if (loadPatternFile(m_seq, m_folder, name))
        return ErrorMessage{"Error", loadErrorText(name)};
    return std::nullopt;
}

void FilePanel::reread()
{
    // The pick stays on the same name when that file is still listed.
    const std::string picked = pickedName();
    m_entries = listPatternFiles(m_folder);
    const auto it = std::find(m_entries.begin(), m_entries.end(), picked);
    m_picked = !picked.empty() && it != m_entries.end() ? int(it - m_entries.begin()) : -1;
}

void FilePanel::changed()
{
    if (m_changed)
        m_changed();
}

} // namespace patterns
