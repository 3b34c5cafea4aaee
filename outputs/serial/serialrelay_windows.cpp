#include "serialrelay.h"

#include <algorithm>
#include <cctype>

namespace portio {

std::optional<std::string> serialPortIdentity(const std::string &path, std::string &)
{
    // COM3, com3 and \\.\COM3 are one port; Windows has no other names.
    std::string name = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return "com:" + name;
}

std::string serialAccessHint(const std::string &)
{
    return "close the other program that holds the port";
}

} // namespace portio
