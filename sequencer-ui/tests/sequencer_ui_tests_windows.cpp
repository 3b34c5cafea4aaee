// The window tests' Windows part. A termination request (the end of the
// session) reaches the real program only through its native windows; the
// smoke test of tools/windows-build sends it under wine.

#include "sequencer_ui_tests.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

QColor platformInactiveBorder()
{
    const DWORD colour = ::GetSysColor(COLOR_INACTIVEBORDER);
    return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}
