// SPDX-License-Identifier: MIT
#pragma once

// Texts drawn black by design stay black under any colour scheme; under a dark one they get
// a light background of their own so that they can still be read.

#include <QColor>

class QWidget;

namespace metronel {

// Returns whether black text can be read on background (a contrast of at least 4.5 to 1).
bool ReadableUnderBlack(const QColor& background);

// Paints widget's text black, on a light background of its own where the palette's would
// leave black text unreadable.
void SetBlackText(QWidget& widget);

} // namespace metronel
