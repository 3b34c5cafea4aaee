#pragma once
// The font every control of blinkwerk's windows uses. The fixed layout was
// drawn for a small dialog font; Qt's default on Linux is about 30 % wider
// and would run captions into their neighbours. Liberation Sans at 10 px
// (metrics of Arial) keeps every caption inside its layout width. On
// Windows the platform's own default dialog font is used.

#include <QFont>

namespace blinkwerk {

QFont dialogFont();

} // namespace blinkwerk
