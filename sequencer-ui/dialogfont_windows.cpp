#include "dialogfont.h"

#include <QString>

#include <windows.h>

namespace blinkwerk {

namespace {

// "MS Shell Dlg", the stock font's face, is no font but a name the system
// maps to one (Microsoft Sans Serif on Windows; under wine a font of the
// host). Qt would not map it and fall back to a serif face, so GDI is asked
// which face it really draws with.
QString realFace(const LOGFONTW &logFont)
{
    QString face = QString::fromWCharArray(logFont.lfFaceName);
    HDC screen = ::GetDC(nullptr);
    HFONT font = ::CreateFontIndirectW(&logFont);
    if (screen && font) {
        HGDIOBJ previous = ::SelectObject(screen, font);
        wchar_t drawn[LF_FACESIZE] = {};
        if (const int length = ::GetTextFaceW(screen, LF_FACESIZE, drawn); length > 1)
            face = QString::fromWCharArray(drawn, length - 1);
        ::SelectObject(screen, previous);
    }
    if (font)
        ::DeleteObject(font);
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return face;
}

} // namespace

QFont dialogFont()
{
    LOGFONTW logFont {};
    if (!::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont))
        return QFont(QStringLiteral("Microsoft Sans Serif"), 8);
    QFont font(realFace(logFont));
    // A negative height is the character height in pixels, a positive one
    // the cell height, of which the character takes about eight ninths.
    const int height = logFont.lfHeight < 0 ? -logFont.lfHeight : logFont.lfHeight * 8 / 9;
    font.setPixelSize(height > 0 ? height : 11);
    if (logFont.lfWeight >= FW_BOLD)
        font.setBold(true);
    return font;
}

QColor inactiveBorderColour()
{
    const DWORD colour = ::GetSysColor(COLOR_INACTIVEBORDER);
    return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

} // namespace blinkwerk
