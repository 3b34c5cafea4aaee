// The port layer's rules as Windows has them: the inpout library beside the
// program, the simulated register's file and its access list.

#include "childprocess.h"
#include "registerfile.h"
#include "outputkind.h"
#include "outputsession.h"
#include "portio.h"
#include "portio_tests.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <vector>

namespace fs = std::filesystem;

const char *const MissingFolderReason = "(error 3)"; // ERROR_PATH_NOT_FOUND

// A new folder admits its creator; XDG_RUNTIME_DIR means nothing here.
fs::path privateFolder(const fs::path &path)
{
    fs::create_directories(path);
    return path;
}

std::string simulatedRegisterWithRuntimeFolder(const fs::path &)
{
    return portio::RegisterFile::defaultSharedName();
}

namespace {

// Binds lpt1 as blinkwerk does, writes 255 and ends as blinkwerk ends
// (the session's last 0); returns what the port reads.
const testsupport::ChildBody writeZeroAndFull("writeZeroAndFull", [] {
    portio::OutputSession *session = bindLikeAProgram(portio::OutputRole::Sequencer);
    portio::LptOut(255);
    const int read = portio::LptIn();
    session->close();
    return read;
});

fs::path programFolder()
{
    wchar_t self[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, DWORD(std::size(self)));
    return fs::path(std::wstring(self, length)).parent_path();
}

// Puts a copy of the given library beside this test program as
// inpoutx64.dll for as long as it lives.
class LibraryBesideProgram
{
public:
    explicit LibraryBesideProgram(const fs::path &library)
        : m_path(programFolder() / "inpoutx64.dll")
    {
        fs::copy_file(library, m_path, fs::copy_options::overwrite_existing);
    }
    ~LibraryBesideProgram() { fs::remove(m_path); }

private:
    fs::path m_path;
};

const testsupport::Environment noRegisterFile = {{"BLINKWERK_LPT_REGISTER", ""}};

} // namespace

// Every entry of the file's access list admits this user or the system
// itself (wine reports one for the system on every file), none a group or
// everyone, and this user has full access.
void expectOnlyThisUserMayOpen(const std::string &sharedName)
{
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user.data(), size, &size));
    ::CloseHandle(token);
    const PSID userSid = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
    unsigned char systemSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid;
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize));

    const std::wstring path = fs::path(std::u8string(sharedName.begin(), sharedName.end())).wstring();
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                      nullptr, &descriptor),
              DWORD(ERROR_SUCCESS));
    ASSERT_NE(acl, nullptr) << "no access list admits everyone";
    bool userHasFullAccess = false;
    for (WORD i = 0; i < acl->AceCount; ++i) {
        void *ace = nullptr;
        ASSERT_TRUE(::GetAce(acl, i, &ace));
        ASSERT_EQ(static_cast<ACE_HEADER *>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
        const auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
        const PSID sid = const_cast<DWORD *>(&allowed->SidStart);
        EXPECT_TRUE(::EqualSid(sid, userSid) || ::EqualSid(sid, systemSid)) << "entry " << i;
        userHasFullAccess = userHasFullAccess || (::EqualSid(sid, userSid) && (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS);
    }
    EXPECT_TRUE(userHasFullAccess);
    ::LocalFree(descriptor);
}

TEST(SimulatedRegister, isAFileInTheUsersLocalApplicationData)
{
    const std::string name = portio::RegisterFile::defaultSharedName();
    wchar_t local[MAX_PATH * 4];
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, DWORD(std::size(local)));
    ASSERT_GT(length, 0u);
    EXPECT_EQ(name, utf8(fs::path(std::wstring(local, length)) / "Blinkwerk" / "lpt1-register"));
}

TEST(InpoutLibrary, withoutItTheFallbackLineNamesTheLibraryTried)
{
    const auto child = testsupport::runChild("writeZeroAndFull", noRegisterFile);
    EXPECT_EQ(child.status, 255);
    EXPECT_NE(child.standardError.find("LPT1: inpoutx64.dll could not be loaded (error 126"), std::string::npos)
        << child.standardError;
    EXPECT_EQ(child.standardError.find("inpout32.dll"), std::string::npos) << child.standardError;
    EXPECT_NE(child.standardError.find("using the simulated register " + portio::RegisterFile::defaultSharedName()),
              std::string::npos)
        << child.standardError;
}

TEST(InpoutLibrary, besideTheProgramItServesEveryCall)
{
    const fs::path log = scratchDir() / "calls.log";
    fs::remove(log);
    LibraryBesideProgram library(FAKE_INPOUT);
    testsupport::Environment environment = noRegisterFile;
    environment.push_back({"BLINKWERK_FAKE_INPOUT_LOG", utf8(log)});
    const auto child = testsupport::runChild("writeZeroAndFull", environment);
    EXPECT_EQ(child.status, 255);
    EXPECT_TRUE(saidLines(child.standardError).empty()) << "a usable library is chosen silently";
    const std::string calls = readFile(log);
    EXPECT_NE(calls.find("Out32 888 255\nOut32 888 0\n"), std::string::npos) << "the step, then the last 0:\n" << calls;
    fs::remove_all(scratchDir());
}

TEST(InpoutLibrary, aLibraryWithoutInp32IsNotUsed)
{
    const fs::path log = scratchDir() / "calls.log";
    fs::remove(log);
    LibraryBesideProgram library(FAKE_INPOUT_WITHOUT_INP32);
    testsupport::Environment environment = noRegisterFile;
    environment.push_back({"BLINKWERK_FAKE_INPOUT_LOG", utf8(log)});
    const auto child = testsupport::runChild("writeZeroAndFull", environment);
    EXPECT_EQ(child.status, 255);
    EXPECT_NE(child.standardError.find("LPT1: inpoutx64.dll has no Inp32"), std::string::npos) << child.standardError;
    EXPECT_FALSE(fs::exists(log)) << "nothing went through the half library";
    fs::remove_all(scratchDir());
}
