#pragma once
// Shared by the port layer's tests and their platform parts.

#include <filesystem>
#include <string>
#include <vector>

// A scratch folder of this test process, created on demand.
std::filesystem::path scratchDir();
std::string readFile(const std::filesystem::path &path);
std::string utf8(const std::filesystem::path &path);

// The platform's words for a folder that does not exist.
extern const char *const MissingFolderReason;

// A folder that only this user may enter, as a runtime folder is.
std::filesystem::path privateFolder(const std::filesystem::path &path);
// The simulated register of a child whose XDG_RUNTIME_DIR is runtime (a
// variable that only POSIX heeds).
std::string simulatedRegisterWithRuntimeFolder(const std::filesystem::path &runtime);

// Binds the output a program would bind from its environment (register:FILE
// from BLINKWERK_LPT_REGISTER, else lpt1 that nobody chose) for role, and
// routes the port routines to it for the rest of the process: for tests that
// run as a program in a child process.
namespace portio {
enum class OutputRole;
class OutputSession;
}
// Returns the session, which lives until the process ends unless closed.
portio::OutputSession *bindLikeAProgram(portio::OutputRole role);
// The lines of a child's standard error, without the one that names the
// output in use ("Output: ...").
std::vector<std::string> saidLines(const std::string &text);

// The simulated register of that name admits its owner only.
void expectOnlyThisUserMayOpen(const std::string &sharedName);
