// SPDX-License-Identifier: MIT
#pragma once

// Reads what a widget painted: its background is the colour it paints most, and the heart
// of its text is the painted colour farthest from that background.

#include <QColor>
#include <QHash>
#include <QImage>
#include <QWidget>

#include <cmath>

namespace metronel::testing {

inline QImage Painted(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QColor Background(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb most = 0;
    int best = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > best) {
            best = it.value();
            most = it.key();
        }
    return QColor(most);
}

inline int Distance(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

inline QColor Ink(const QImage& image) {
    const QColor background = Background(image);
    QColor ink = background;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QColor c(image.pixel(x, y));
                Distance(c, background) > Distance(ink, background))
                ink = c;
    return ink;
}

// Whether two colours are the same but for the smoothing of glyph edges.
inline bool Near(const QColor& a, const QColor& b) {
    return Distance(a, b) <= 60;
}

// The contrast ratio of two colours, 1 (none) to 21 (black on white).
inline double Contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace metronel::testing
