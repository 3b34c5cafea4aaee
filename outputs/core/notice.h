#pragma once
// The port layer's only channel to the user: one line on standard error,
// prefixed "LPT1: ". Port calls come from timer ticks and never report to
// their callers, so whatever goes wrong below them is said here, once.
// Every line is passed through printable() (printable.h): control characters
// in a quoted path or name are shown escaped, and a line is at most
// LineLimit bytes.

#include <string>

namespace portio {

void notice(const std::string &text);

} // namespace portio

namespace portio {

// The same for an output of its own: "<source>: <text>", where source names
// the output ("hidrelay:ABCDE", "serial:/dev/ttyUSB0", "sacn:1").
void notice(const std::string &source, const std::string &text);

} // namespace portio
