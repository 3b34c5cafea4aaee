#pragma once
// The platform's look that blinkwerk's fixed layout was drawn for: the font
// every control uses and the background of its windows. One file per
// platform implements this header.
//
// Font: on Windows the platform's default dialog font (the stock GUI font,
// at its pixel height, in the face GDI draws it with).
// Elsewhere Qt's default is about 30 % wider than that font and would run
// captions into their neighbours; Liberation Sans at 10 px (metrics of
// Arial) keeps every caption inside its layout width.
//
// Background: system colour 11, the colour of an inactive window border;
// off Windows the classic grey 212, 208, 200.

#include <QColor>
#include <QFont>

namespace blinkwerk {

QFont dialogFont();
QColor inactiveBorderColour();

} // namespace blinkwerk
