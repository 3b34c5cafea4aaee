// Fuzz target for the player's configuration file: any bytes parse to
// options or to one reason, and what parses holds only checked values.

#include "playeroptions.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool plain(const std::optional<std::string> &value)
{
    if (!value)
        return true;
    for (unsigned char c : *value)
        if (c < 0x20 || c == 0x7f)
            return false;
    return value->size() <= 4096;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string error;
    const auto options =
        player::parsePlayerConfig(std::string_view(reinterpret_cast<const char *>(data), size), error);
    if (!options) {
        require(!error.empty() && error.size() < 200);
        return 0;
    }
    require(plain(options->output) && plain(options->pattern) && plain(options->patternFolder)
            && plain(options->password) && plain(options->follow) && plain(options->listenAddress));
    require(!options->stepTimePosition || (*options->stepTimePosition >= 0 && *options->stepTimePosition <= 10));
    require(!options->range || (1 <= options->range->first && options->range->first < options->range->second
                                && options->range->second <= 20));
    require(!options->listenPort || (*options->listenPort >= 1 && *options->listenPort <= 65535));
    return 0;
}
