// SPDX-License-Identifier: MIT
// Reads any bytes through the core's front door as a wave file, then does what tempo and
// split do with what was read: the records updated for a longer sound and for a piece, the
// samples decoded and brought to a new length both ways, held and straight from the file
// (which must agree). A refusal is an expected answer to
// bad input; anything else (a crash, a sanitizer report, an exception) is a finding.

#include "mdlHqResample.h"
#include "mdlLength.h"
#include "mdlMetadata.h"
#include "mdlWaveFile.h"

#include <QString>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Keeps each input's work small: decoding and resampling are linear in the sound's size.
constexpr std::size_t kMaxDecodeBytes = 1 << 16;

int InputFile() {
    static const int fd = [] {
        const int f = ::memfd_create("metronel-fuzz", MFD_CLOEXEC);
        if (f < 0)
            std::abort();
        return f;
    }();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = InputFile();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);

    chunkwell::MediaSystemLicence msl;
    metronel::WaveFile wave;
    if (!metronel::ReadWave(msl, path, wave).Written())
        return 0;
    const std::int64_t frames = wave.Frames();
    // Longer by half, then the middle third as a piece of a split.
    metronel::WaveFile longer = wave;
    metronel::AdjustMetadata(longer.records, {frames, frames * 3 / 2, 0, frames * 3 / 2}, 120.0,
                             4.0);
    metronel::AdjustMetadata(wave.records, {frames, frames, frames / 3, frames / 3}, 1e9, -3.5);

    if (wave.Data().size() > kMaxDecodeBytes)
        return 0;
    if (const auto format = metronel::SampleFormatFromFmt(wave.Fmt())) {
        const auto samples = metronel::DecodeSamples(wave.Data(), *format);
        (void)metronel::EncodeSamples(samples, *format);
        const auto target =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(frames / 2 + 1, 1, 4096));
        metronel::WaveFile left;
        if (!metronel::ReadWave(msl, path, left, metronel::SoundRead::Later).Written())
            std::abort();
        for (const auto resampler : {metronel::Resampler::Hq, metronel::Resampler::Pick}) {
            const auto held = metronel::BringToLength(wave, target, resampler);
            const metronel::SoundMaker maker = metronel::MakeLength(left, target, resampler, true);
            std::vector<std::byte> made(static_cast<std::size_t>(maker.size));
            if (!maker.write([&](std::int64_t offset, std::span<const std::byte> bytes) {
                    std::copy(bytes.begin(), bytes.end(), made.begin() + offset);
                    return true;
                }) ||
                made != held)
                std::abort();
        }
    }
    return 0;
}
