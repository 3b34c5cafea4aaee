#include "dialogfont.h"

#include <QString>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace blinkwerk {

namespace {

// "MS Shell Dlg" is no font but a name the system maps to one (Microsoft Sans
// Serif on Windows, Tahoma under wine); Qt would fall back to a serif face.
QString resolvedFace(const QString &face)
{
    wchar_t substitute[LF_FACESIZE * 2] = {};
    DWORD size = sizeof substitute;
    const LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE,
                                          L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                                          reinterpret_cast<const wchar_t *>(face.utf16()), RRF_RT_REG_SZ, nullptr,
                                          substitute, &size);
    if (status != ERROR_SUCCESS || !substitute[0])
        return face;
    // A substitute may carry a character set after a comma.
    return QString::fromWCharArray(substitute).section(QLatin1Char(','), 0, 0);
}

} // namespace

QFont dialogFont()
{
    LOGFONTW logFont {};
    if (!::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont))
        return QFont(QStringLiteral("Microsoft Sans Serif"), 8);
    QFont font(resolvedFace(QString::fromWCharArray(logFont.lfFaceName)));
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
