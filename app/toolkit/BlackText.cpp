// SPDX-License-Identifier: MIT
#include "BlackText.h"

#include <QPalette>
#include <QWidget>

#include <cmath>

namespace metronel {

namespace {

// Relative luminance of an sRGB colour, 0 for black to 1 for white.
double Luminance(const QColor& colour) {
    auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

} // namespace

bool ReadableUnderBlack(const QColor& background) {
    return (Luminance(background) + 0.05) / 0.05 >= 4.5;
}

void SetBlackText(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(widget.foregroundRole(), Qt::black);
    const QPalette::ColorRole background = widget.backgroundRole();
    if (!ReadableUnderBlack(palette.color(background))) {
        // The light faces of a classic desktop: white for text fields, grey for windows.
        palette.setColor(background, background == QPalette::Base ? QColor(255, 255, 255)
                                                                  : QColor(240, 240, 240));
        widget.setAutoFillBackground(true);
    }
    widget.setPalette(palette);
}

} // namespace metronel
