#include "notice.h"

#include <cstdio>

namespace portio {

void notice(const std::string &text)
{
    std::fprintf(stderr, "LPT1: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace portio
