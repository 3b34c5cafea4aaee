// The port layer's rules as POSIX has them.

#include "portio_tests.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

const char *const MissingFolderReason = "No such file or directory";

void expectOnlyThisUserMayOpen(const std::string &sharedName)
{
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/shm" + sharedName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::getuid());
}
