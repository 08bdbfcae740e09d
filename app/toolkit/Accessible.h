// SPDX-License-Identifier: MIT
#pragma once

// Roles for screen readers where a widget's Qt class says something else than what the
// user meets: a plain widget that is a spin control, a label that is a link.
//
//     ShowAsSpinControl(*udSamples);
//     ShowAsLink(*lblSupport, [this] { lblSupport_Click(); });

#include <functional>

class QWidget;

namespace metronel {

// Shows widget to screen readers as a spin control. Call it before the widget is shown.
void ShowAsSpinControl(QWidget& widget);

// Shows widget to screen readers as a link whose press action runs activate. Call it
// before the widget is shown.
void ShowAsLink(QWidget& widget, std::function<void()> activate);

} // namespace metronel
