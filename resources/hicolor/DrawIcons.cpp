// SPDX-License-Identifier: MIT
// Draws the program's icons for the desktop theme: a metronome, as in the window icon.
//
//   metronel_icons <output folder> <16 px XPM> <32 px XPM> <size>...
//
// writes <output folder>/<size>x<size>/apps/metronel.png for every size. The sizes that
// the window icon has by hand are copied pixel for pixel; the others are drawn from the
// same shapes, laid out on the 32 px icon's grid, so every size looks alike.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QString>

#include <cstdio>
#include <map>

namespace {

// The window icon's palette.
const QColor kOutline(0x80, 0x40, 0x00);
const QColor kWood(0xC0, 0x80, 0x40);
const QColor kFace(0xFF, 0xFF, 0x80);
const QColor kArm(0x00, 0x00, 0x00);
const QColor kWeight(0xC0, 0x00, 0x00);
const QColor kPivot(0x80, 0x80, 0x80);
const QColor kBase(0x40, 0x40, 0x40);

QImage Draw(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // Body: a tapering case with a one-unit rim.
    p.setPen(QPen(kOutline, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(kWood);
    p.drawPolygon(QPolygonF({{14.5, 2.5}, {17.5, 2.5}, {26.5, 28}, {5.5, 28}}));

    // Face, behind the arm.
    p.setPen(Qt::NoPen);
    p.setBrush(kFace);
    p.drawPolygon(QPolygonF({{15, 6}, {17, 6}, {22, 21}, {10, 21}}));

    // Base.
    p.setBrush(kBase);
    p.drawRect(QRectF(4, 28, 24, 4));

    // Arm, leaning right from its pivot, with the weight on it.
    const QPointF pivot(16.5, 22);
    const QPointF tip(24, 3);
    p.setPen(QPen(kArm, 1.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(pivot, tip);
    p.setPen(Qt::NoPen);
    p.setBrush(kPivot);
    p.drawEllipse(QPointF(16, 22.5), 1.1, 1.1);

    const double weightY = 9.5;
    const double weightX =
        pivot.x() + (tip.x() - pivot.x()) * (pivot.y() - weightY) / (pivot.y() - tip.y());
    p.setBrush(kWeight);
    p.drawRect(QRectF(weightX - 2.5, weightY - 2.5, 5, 5));
    p.end();
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <output folder> <16 px XPM> <32 px XPM> <size>...\n",
                     argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    std::map<int, QImage> byHand;
    for (int i = 2; i <= 3; ++i) {
        QImage image(QString::fromLocal8Bit(argv[i]));
        if (image.isNull() || image.width() != image.height()) {
            std::fprintf(stderr, "%s: cannot read a square icon from %s\n", argv[0], argv[i]);
            return 1;
        }
        byHand[image.width()] = image.convertToFormat(QImage::Format_ARGB32);
    }

    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const auto hand = byHand.find(size);
        const QImage image = hand != byHand.end() ? hand->second : Draw(size);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (!QDir().mkpath(folder) ||
            !image.save(folder + QStringLiteral("/metronel.png"), "PNG")) {
            std::fprintf(stderr, "%s: cannot write the %d px icon into %s\n", argv[0], size,
                         qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
