// The window tests' POSIX part: the grey that stands in for system colour
// 11, and the font the layout's widths hold for. Termination signals are
// tested in app/tests/termination_posix_tests.cpp.

#include "sequencer_ui_tests.h"

QColor platformInactiveBorder()
{
    return QColor(212, 208, 200);
}

std::optional<std::string> whyCaptionsMayNotFit()
{
    return std::nullopt;
}
