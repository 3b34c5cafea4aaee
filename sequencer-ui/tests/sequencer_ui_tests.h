#pragma once
// The platform's part of the window tests.

#include <QColor>

#include <optional>
#include <string>

// System colour 11 as the platform answers it, asked without Qt.
QColor platformInactiveBorder();

// Why the captions cannot be expected to fit their layout widths with the
// font the platform gives, or nothing when they must fit.
std::optional<std::string> whyCaptionsMayNotFit();
