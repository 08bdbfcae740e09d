// SPDX-License-Identifier: MIT
#include "mdlMain.h"

#include <limits>

namespace metronel {

namespace {
std::uint32_t ByteAt(std::span<const std::byte> bytes, std::size_t i) {
    return i < bytes.size() ? std::to_integer<std::uint32_t>(bytes[i]) : 0;
}

std::int16_t Int16At(std::span<const std::byte> bytes, std::size_t i) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(ByteAt(bytes, i) | ByteAt(bytes, i + 1) << 8));
}

std::int32_t Int32At(std::span<const std::byte> bytes, std::size_t i) {
    return static_cast<std::int32_t>(ByteAt(bytes, i) | ByteAt(bytes, i + 1) << 8 |
                                     ByteAt(bytes, i + 2) << 16 | ByteAt(bytes, i + 3) << 24);
}

void PutLE(std::array<std::byte, WAVEFORMATINFO::kSize>& out, std::size_t at, std::uint32_t value,
           int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}
} // namespace

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
    f.FormatTag = Int16At(bytes, 0);
    f.Channels = Int16At(bytes, 2);
    f.SamplesPerSec = Int32At(bytes, 4);
    f.AvgBytesPerSec = Int32At(bytes, 8);
    f.BlockAlign = Int16At(bytes, 12);
    f.BitsPerSample = Int16At(bytes, 14);
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
