#pragma once
// Whether a HID device node exists but this user may not open it for
// reading and writing (hidapi's own failure does not tell).

#include <string>

namespace portio {

bool hidAccessDenied(const std::string &path);

} // namespace portio
