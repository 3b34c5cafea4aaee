#include "console.h"

#include <windows.h>

#include <cstdio>

namespace blinkwerk {

void attachParentConsole()
{
    // Streams that already go somewhere (a redirection to a file or pipe)
    // stay there.
    const bool outGoesSomewhere = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN;
    const bool errGoesSomewhere = GetFileType(GetStdHandle(STD_ERROR_HANDLE)) != FILE_TYPE_UNKNOWN;
    if (outGoesSomewhere && errGoesSomewhere)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // The descriptions are UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    if (!outGoesSomewhere)
        std::freopen("CONOUT$", "w", stdout);
    if (!errGoesSomewhere)
        std::freopen("CONOUT$", "w", stderr);
}

} // namespace blinkwerk
