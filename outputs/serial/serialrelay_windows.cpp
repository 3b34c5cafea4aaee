#include "serialrelay.h"

namespace portio {

std::string serialAccessHint()
{
    return "close the other program that holds the port";
}

} // namespace portio
