// Fuzz target of printable(): whatever the bytes and the limit, the result
// fits the limit and is valid UTF-8 without control characters (a second
// pass changes nothing).

#include "printable.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t limit = 64 + std::size_t(data[0]) * 4;
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::string shown = portio::printable(text, limit);
    if (shown.size() > limit || portio::printable(shown, limit) != shown)
        std::abort();
    return 0;
}
