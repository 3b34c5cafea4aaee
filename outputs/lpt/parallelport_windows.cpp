#include "parallelport.h"

namespace portio {

// Windows reaches the port through inpoutx64.dll, which tells nothing before
// it is loaded: LPT1 is always offered, and opening it says what is missing.
std::optional<std::string> parallelPortDevice()
{
    return std::string("LPT1");
}

} // namespace portio

namespace portio {

// The port at 0x378, the only one inpoutx64.dll is asked for.
std::optional<std::string> parallelPortIdentity(std::string &)
{
    return std::string("parport:0x378");
}

} // namespace portio
