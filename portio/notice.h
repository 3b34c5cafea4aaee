#pragma once
// The port layer's only channel to the user: one line on standard error,
// prefixed "LPT1: ". Port calls come from timer ticks and never report to
// their callers, so whatever goes wrong below them is said here, once.

#include <string>

namespace portio {

void notice(const std::string &text);

} // namespace portio
