#pragma once
// Process-level tests: a test program starts itself again as a child that
// runs one named body in a fresh process (no port backend bound yet, its own
// environment), and looks at the child's exit status and standard error.
//
// A body is registered at namespace scope:
//   const testsupport::ChildBody writer("writer", [] { ...; return 0; });
// and the test program's main calls runAsChildIfAsked before GoogleTest.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class ChildBody
{
public:
    ChildBody(std::string name, std::function<int()> body);
};

// When this process was started by runChild, runs the named body and returns
// its status; otherwise nothing.
std::optional<int> runAsChildIfAsked(int argc, char **argv);

struct ChildResult
{
    int status = -1;          // the body's return value; -1 if the child crashed, hung or could not start
    std::string standardError; // everything the child wrote to standard error
};

using Environment = std::vector<std::pair<std::string, std::string>>; // name, UTF-8 value

// Runs the named body in a new process of this test program with this
// process's environment plus the given variables. Waits at most a minute;
// a child still running then is killed and reported as -1.
ChildResult runChild(const std::string &name, const Environment &environment = {});

// Sets a variable of this process's environment the way the platform's own
// lookups see it. The value is UTF-8.
void setEnvironment(const std::string &name, const std::string &value);

// Text unique to this process, for scratch names no other test program uses.
std::string uniqueSuffix();

} // namespace testsupport
