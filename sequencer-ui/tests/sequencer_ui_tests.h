#pragma once
// The platform's part of the window tests.

#include <QColor>

// System colour 11 as the platform answers it, asked without Qt.
QColor platformInactiveBorder();
