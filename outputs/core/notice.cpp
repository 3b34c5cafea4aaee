#include "notice.h"

#include "printable.h"

#include <cstdio>

namespace portio {

namespace {

// The text may quote anything from outside (a path, a SPEC, a packet's
// source): the whole line is made printable and bounded.
void say(const std::string &line)
{
    const std::string shown = printable(line) + "\n";
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void notice(const std::string &text)
{
    say("LPT1: " + text);
}

} // namespace portio

namespace portio {

void notice(const std::string &source, const std::string &text)
{
    say(source + ": " + text);
}

} // namespace portio
