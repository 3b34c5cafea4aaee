#pragma once
// Reading the process environment as text the rest of the port layer can
// pass on as a path: UTF-8 on every platform. On Windows the variable is read
// wide, so that a path outside the ANSI code page arrives intact.

#include <optional>
#include <string>

namespace portio {

// The variable's value in UTF-8, or nothing when it is not set.
std::optional<std::string> environmentVariable(const char *name);

} // namespace portio
