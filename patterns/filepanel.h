#pragma once
// The logic of the file panel: the name field, "Speichern", the file list
// and "Laden", without widgets. The window shows this state and forwards
// the user's events; the panel runs the pattern file's save and load.
//
//   - "Speichern" is enabled exactly while the name field holds text.
//   - A complete save then disables "Speichern", clears the name field and
//     re-reads the list, in that order. A refused or failed save changes
//     none of them.
//   - "Laden" is enabled for good by the first pick in the list.
//   - The list holds the regular, not hidden files of the folder whose
//     names end in ".bw2" (in any case), sorted by name. It is read when the
//     panel is pointed at its folder and after each complete save only.
//   - A save into the data folder creates it first when it is missing; the
//     list of a missing folder is empty and creates nothing.

#include "patternfolder.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sequencer {
class Sequencer;
}

namespace patterns {

// A message for a modal box with the error icon and a single OK button.
struct ErrorMessage
{
    std::string title;
    std::string text;
};

class FilePanel
{
public:
    explicit FilePanel(sequencer::Sequencer &seq);

    // Start-up: the list shows folder from now on, and reads it. A path is
    // a folder that exists (the program's own).
    void pointAt(const PatternFolder &folder);
    void pointAt(const std::filesystem::path &folder) { pointAt(PatternFolder{folder, true}); }

    void setNameText(const std::string &text); // every change of the name field
    void pick(int index);                      // a pick in the list; -1 is none

    // The buttons. Each returns the message to show, if any.
    std::optional<ErrorMessage> save();
    std::optional<ErrorMessage> load();

    const std::string &nameText() const { return m_nameText; }
    bool saveEnabled() const { return m_saveEnabled; }
    bool loadEnabled() const { return m_loadEnabled; }
    const std::vector<std::string> &entries() const { return m_entries; }
    int pickedIndex() const { return m_picked; }
    std::string pickedName() const;

    // Called after every change of the panel's state.
    void setChangedCallback(std::function<void()> callback) { m_changed = std::move(callback); }

    // The lock that guards the sequencer while another thread may touch it
    // (the step clock): held only while the panel reads or writes the
    // sequencer, never while it reads or writes a file. None by default.
    void setEngineLock(std::mutex *lock) { m_engineLock = lock; }

    // The names the list shows for folder.
    static std::vector<std::string> listPatternFiles(const std::filesystem::path &folder);

private:
    void reread();
    void changed();
    std::unique_lock<std::mutex> engineLock();

    sequencer::Sequencer &m_seq;
    PatternFolder m_folder;
    std::string m_nameText;
    bool m_saveEnabled = false;
    bool m_loadEnabled = false;
    std::vector<std::string> m_entries;
    int m_picked = -1;
    std::function<void()> m_changed;
    std::mutex *m_engineLock = nullptr;
};

} // namespace patterns
