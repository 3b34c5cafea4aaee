// The port layer's rules as POSIX has them.

#include "portio_tests.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char *const MissingFolderReason = "No such file or directory";

fs::path privateFolder(const fs::path &path)
{
    fs::create_directories(path);
    fs::permissions(path, fs::perms(0700));
    return path;
}

std::string simulatedRegisterWithRuntimeFolder(const fs::path &runtime)
{
    return utf8(runtime / "blinkwerk-lpt1");
}

void expectOnlyThisUserMayOpen(const std::string &sharedName)
{
    struct stat st {};
    ASSERT_EQ(::stat(sharedName.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::getuid());
}
