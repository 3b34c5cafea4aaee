// The window tests' Windows part. A termination request (the end of the
// session) reaches the real program only through its native windows; the
// smoke test of tools/windows-build sends it under wine.

#include "dialogfont.h"
#include "sequencer_ui_tests.h"

#include <windows.h>

QColor platformInactiveBorder()
{
    const DWORD colour = ::GetSysColor(COLOR_INACTIVEBORDER);
    return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

// The layout was drawn for Windows' dialog font, Microsoft Sans Serif (the
// TrueType form of MS Sans Serif) at 8 points. Where the system draws the
// dialog font with another face (wine maps it to a host font with wider
// letters) a caption may run a few pixels past its width.
std::optional<std::string> whyCaptionsMayNotFit()
{
    const QString face = blinkwerk::dialogFont().family();
    if (face == QLatin1String("Microsoft Sans Serif") || face == QLatin1String("MS Sans Serif"))
        return std::nullopt;
    return "the system draws its dialog font with " + face.toStdString()
           + ", not with the Microsoft Sans Serif the layout was drawn for";
}
