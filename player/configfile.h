#pragma once
// Reading the player's configuration file: only a regular file of a sane
// size, opened without waiting (a FIFO named there never hangs the start)
// and without following a link in its last component. One file per
// platform.

#include <string>

namespace player {

// The file's text, or false with the reason in error.
bool readConfigFile(const std::string &path, std::string &text, std::string &error);

} // namespace player
