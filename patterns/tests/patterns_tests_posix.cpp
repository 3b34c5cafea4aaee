// POSIX: a leading dot hides a file; a full disk is a file size limit.

#include "patterns_tests.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

const std::vector<std::string> HiddenFileNames = {".hidden.bw2"};

void markHidden(const std::filesystem::path &)
{
}

patterns::SaveError saveFailingAsTheDiskDoes(const sequencer::Sequencer &seq, const std::filesystem::path &folder,
                                             const std::string &name)
{
    // Any write past 100 bytes fails, as on a full disk.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const patterns::SaveError error = patterns::savePatternFile(seq, folder, name);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    return error;
}

const char *const FailedSaveReason = "File too large";
const char *const LongNameReason = "File name too long";
