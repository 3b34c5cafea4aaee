#include "notice.h"

#include <cstdio>

namespace portio {

void notice(const std::string &text)
{
    std::fprintf(stderr, "LPT1: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace portio

namespace portio {

void notice(const std::string &source, const std::string &text)
{
    std::fprintf(stderr, "%s: %s\n", source.c_str(), text.c_str());
    std::fflush(stderr);
}

} // namespace portio
