#pragma once
// Standard output and error of a windowed program. On Windows a GUI program
// has none: attach to the console of the program that started it (a
// command prompt), so that --help, --list-outputs and the lines on standard
// error reach the user there; without such a console nothing changes. On
// POSIX there is nothing to do. One file per platform.

namespace blinkwerk {

void attachParentConsole();

} // namespace blinkwerk
