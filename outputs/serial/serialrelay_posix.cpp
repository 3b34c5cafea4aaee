#include "serialrelay.h"

namespace portio {

std::string serialAccessHint()
{
    return "add the user to group dialout (sudo usermod -aG dialout $USER) and log in again";
}

} // namespace portio
