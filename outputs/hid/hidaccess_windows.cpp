#include "hidaccess.h"

namespace portio {

// Windows lets every user open HID relay boards (the HID class driver
// shares them); a failure to open is never a missing permission.
bool hidAccessDenied(const std::string &)
{
    return false;
}

} // namespace portio
