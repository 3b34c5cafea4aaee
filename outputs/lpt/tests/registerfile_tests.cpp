// The register file as the monitor reads it: a register that cannot be read
// gives nothing, not every lamp off; inp32 keeps answering 0 for its old
// callers; the failure is said once when it starts and once when it ends.

#include "registerfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <unistd.h>

using portio::Lpt1DataPort;
using portio::RegisterFile;
namespace fs = std::filesystem;

TEST(RegisterFile, aRegisterThatCannotBeReadGivesNothingAndSaysSoOnce)
{
    std::string folder = (fs::temp_directory_path() / "lpt-register-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(folder.data()));
    const fs::path path = fs::path(folder) / "register";
    std::string error;
    auto reg = RegisterFile::openFile(path.string(), error);
    ASSERT_TRUE(reg) << error;

    struct Step
    {
        const char *what;
        std::function<void()> act;
        std::optional<std::uint8_t> read; // what readPort gives; inp32 gives it or 0
        std::size_t linesSoFar;
    };
    const auto empty = [&] { fs::resize_file(path, 0); };
    const Step steps[] = {
        {"a byte written", [&] { reg->out32(Lpt1DataPort, 0x5A); }, 0x5A, 0},
        {"the file emptied", empty, std::nullopt, 1},
        {"still empty", [] {}, std::nullopt, 1},
        {"a byte written again", [&] { reg->out32(Lpt1DataPort, 0x3C); }, 0x3C, 2},
        {"a zero written", [&] { reg->out32(Lpt1DataPort, 0); }, 0, 2},
    };
    testing::internal::CaptureStderr();
    std::vector<std::string> lines;
    for (const Step &s : steps) {
        s.act();
        const auto read = reg->readPort();
        const auto answer = reg->inp32(Lpt1DataPort);
        std::istringstream said(testing::internal::GetCapturedStderr());
        for (std::string line; std::getline(said, line);)
            lines.push_back(line);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read, s.read) << s.what;
        EXPECT_EQ(answer, s.read.value_or(0)) << s.what;
        EXPECT_EQ(lines.size(), s.linesSoFar) << s.what;
    }
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "LPT1: register " + path.string() +
                            " holds no byte (was it emptied?) until the next write; the program goes on and says when "
                            "it works again");
    EXPECT_EQ(lines[1], "LPT1: register " + path.string() + " works again");
    reg.reset();
    fs::remove_all(folder);
}
