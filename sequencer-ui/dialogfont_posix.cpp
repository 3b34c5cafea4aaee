#include "dialogfont.h"

namespace blinkwerk {

QFont dialogFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(10);
    return font;
}

QColor inactiveBorderColour()
{
    return QColor(212, 208, 200);
}

} // namespace blinkwerk
