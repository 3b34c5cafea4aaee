#pragma once
// Helpers shared by the pattern tests: a scratch folder, a sequencer with a
// recognisable state, and the state a load can change, as one string.

#include "filepanel.h"
#include "patternfile.h"

#include "portio.h"
#include "recordingport.h"
#include "sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

class Folder
{
public:
    Folder()
    {
        std::random_device entropy;
        m_path = fs::temp_directory_path() / ("patterns-tests-" + std::to_string(entropy()) + std::to_string(entropy()));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    const fs::path &path() const { return m_path; }
    fs::path file(const std::string &name) const { return m_path / patterns::pathFromUtf8(name); }
    void write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string &name) const
    {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> all;
        for (const auto &entry : fs::directory_iterator(m_path))
            all.push_back(patterns::utf8FromPath(entry.path().filename()));
        std::sort(all.begin(), all.end());
        return all;
    }

private:
    fs::path m_path;
};

// A sequencer that went through start-up and then got a recognisable
// state, so that a load that leaves something alone can be seen to.
struct Rig
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope{port};
    sequencer::Sequencer seq;
    explicit Rig(unsigned variant = 0)
    {
        seq.startUp();
        for (int c = 1; c <= 8; ++c)
            for (int i = 0; i < 20; ++i)
                seq.setCell(c, i, std::int16_t((c + i + variant) % 3 == 0));
        seq.setLastActiveStep(std::int16_t(7 + variant % 10));
        seq.setFirstActiveStep(std::int16_t(3 + variant % 3));
        seq.selectStepTime(std::int16_t((variant + 6) % 12 - 1));
    }
};

inline std::string cellsOf(const sequencer::Sequencer &seq)
{
    return patterns::patternLine(seq).substr(0, 160);
}

// Everything a load may change, shown as the window shows it.
inline std::string loadedState(const sequencer::Sequencer &seq)
{
    return patterns::patternLine(seq) + " ab:" + seq.firstActiveStepText() + " bis:" + seq.lastActiveStepText()
           + " ms:" + std::to_string(seq.tickIntervalMs());
}

// A typed name and the words of its refusal; none for a name that is saved.
struct NameCase
{
    std::string name;
    const char *reason; // nullptr: saved and listed under the name typed
};

// Saves each name into a fresh folder: a refused name gets a message with
// its reason, and nothing is written; any other name is saved and listed.
inline void expectNameRules(const std::vector<NameCase> &cases)
{
    for (const NameCase &c : cases) {
        Folder folder;
        Rig rig;
        const patterns::SaveError error = patterns::savePatternFile(rig.seq, folder.path(), c.name);
        if (c.reason) {
            ASSERT_TRUE(error) << c.name;
            EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
            EXPECT_NE(error->find("Es wurde nichts gespeichert."), std::string::npos) << *error;
            EXPECT_TRUE(folder.names().empty()) << c.name;
        } else {
            EXPECT_EQ(error, std::nullopt) << c.name;
            EXPECT_EQ(patterns::FilePanel::listPatternFiles(folder.path()), std::vector<std::string>{c.name + ".bw2"});
        }
    }
}

} // namespace testsupport
