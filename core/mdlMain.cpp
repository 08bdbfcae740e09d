// SPDX-License-Identifier: MIT
#include "mdlMain.h"

#include "mdlBytes.h"

#include <limits>

namespace metronel {

QString GetFileTitle(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString GetFolder(const QString& path) {
    return path.left(path.lastIndexOf(u'/') + 1);
}

QString SplitBaseName(const QString& chosenName) {
    const QString extension = QStringLiteral(".wav");
    if (chosenName.endsWith(extension, Qt::CaseInsensitive))
        return chosenName.chopped(extension.size());
    return chosenName;
}

QString CommandLineFileName(const QStringList& arguments) {
    QString line = arguments.join(u' ');
    line.remove(u'"');
    return line;
}

WAVEFORMATINFO WAVEFORMATINFO::FromBytes(std::span<const std::byte> bytes) {
    WAVEFORMATINFO f;
    f.FormatTag = static_cast<std::int16_t>(GetLE(bytes, 0, 2));
    f.Channels = static_cast<std::int16_t>(GetLE(bytes, 2, 2));
    f.SamplesPerSec = static_cast<std::int32_t>(GetLE(bytes, 4, 4));
    f.AvgBytesPerSec = static_cast<std::int32_t>(GetLE(bytes, 8, 4));
    f.BlockAlign = static_cast<std::int16_t>(GetLE(bytes, 12, 2));
    f.BitsPerSample = static_cast<std::int16_t>(GetLE(bytes, 14, 2));
    return f;
}

std::array<std::byte, WAVEFORMATINFO::kSize> WAVEFORMATINFO::ToBytes() const {
    std::array<std::byte, kSize> out{};
    PutLE(out, 0, static_cast<std::uint16_t>(FormatTag), 2);
    PutLE(out, 2, static_cast<std::uint16_t>(Channels), 2);
    PutLE(out, 4, static_cast<std::uint32_t>(SamplesPerSec), 4);
    PutLE(out, 8, static_cast<std::uint32_t>(AvgBytesPerSec), 4);
    PutLE(out, 12, static_cast<std::uint16_t>(BlockAlign), 2);
    PutLE(out, 14, static_cast<std::uint16_t>(BitsPerSample), 2);
    return out;
}

FormatCheck CheckFormat(const WAVEFORMATINFO& format) {
    if (format.FormatTag != 1)
        return FormatCheck::NotPcm;
    const std::int64_t product = std::int64_t{format.BlockAlign} * format.SamplesPerSec;
    if (product < std::numeric_limits<std::int32_t>::min() ||
        product > std::numeric_limits<std::int32_t>::max())
        throw chunkwell::OverflowError("Overflow: BlockAlign x SamplesPerSec leaves 32 bits");
    // A frame of no bytes gives no frame count, whatever the byte rate says.
    if (product != format.AvgBytesPerSec || format.BlockAlign < 1)
        return FormatCheck::Inconsistent;
    return FormatCheck::Accepted;
}

} // namespace metronel
