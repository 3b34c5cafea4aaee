#include "dialogfont.h"

#include <QApplication>

namespace blinkwerk {

QFont dialogFont()
{
#ifdef _WIN32
    return QApplication::font();
#else
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(10);
    return font;
#endif
}

} // namespace blinkwerk
