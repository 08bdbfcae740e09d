// SPDX-License-Identifier: MIT
#pragma once

// Sound as numbers, without widgets: the sample formats of wave files (integer PCM, IEEE
// float, their extensible forms), decoding them to doubles and encoding doubles back, and
// band-limited resampling of a loop to an exact frame count.
//
//   auto f = SampleFormatFromFmt(fmtBytes);             // nullopt: a format we cannot read
//   auto x = DecodeSamples(dataBytes, *f);              // interleaved doubles, [-1, 1)
//   auto y = ResampleLoopHq(x, f->channels, n);         // exactly n frames, seamless loop
//   auto bytes = EncodeSamples(y, *f);                  // back to the file's own format

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace metronel {

// How the samples of a "data" record are stored. Each sample sits in a container of
// blockAlign / channels bytes, little-endian; an integer sample holds `bits` significant
// bits at the container's top (the rest are padding), a float sample fills its container.
// A 1-byte container holds unsigned samples (silence 0x80), larger ones signed samples.
struct SampleFormat {
    enum class Kind { Pcm, Float } kind;
    int bits;
    int channels;
    int blockAlign;

    // Returns the bytes of one sample's container.
    int ContainerBytes() const { return channels > 0 ? blockAlign / channels : 0; }
    // Tells whether this is a format the routines below can code: 1 to 4-byte integer
    // containers holding 1 to 8 x container bits, 4-byte float of 32 bits or 8-byte float of
    // 64, at least one channel and blockAlign a whole number of containers per channel.
    bool IsValid() const;

    bool operator==(const SampleFormat&) const = default;
};

// Reads the sample format of a "fmt " record's bytes (tag 1, 3, or 0xFFFE with a PCM or
// float sub-format GUID); nullopt otherwise. Tags 1 and 3 need a container of exactly
// ceil(bits / 8) bytes; the extensible form takes its container from BitsPerSample and its
// `bits` from ValidBitsPerSample (0 meaning the whole container), so 24 bits in a 4-byte
// container are read as such. Nothing is raised: short, inconsistent or unknown records
// (compressed formats, a sub-format of another kind) give nullopt.
std::optional<SampleFormat> SampleFormatFromFmt(std::span<const std::byte> fmt);

// Returns the samples of data, interleaved, as doubles: integers scaled so full scale is
// [-1, 1) (padding bits read as they stand), floats unchanged (they may lie outside, or be
// non-finite). Decodes whole frames only: an incomplete trailing frame is left out, and an
// empty result comes back for data shorter than one frame. Raises std::invalid_argument
// for a format that is not IsValid().
std::vector<double> DecodeSamples(std::span<const std::byte> data, const SampleFormat& f);

// Returns samples encoded in format f, whole frames only (trailing samples short of a frame
// are left out). Integers are rounded to the nearest of `bits` bits, halves to even,
// clipped to full scale, padding bits zero, NaN written as silence; no dither, so the
// same samples always give the same bytes and decoded bytes encode back identically
// (padding bits zero). Floats keep values beyond +-1; NaN becomes 0, and infinities and
// values beyond the float's range its largest finite value. Raises std::invalid_argument for a
// format that is not IsValid().
std::vector<std::byte> EncodeSamples(std::span<const double> samples, const SampleFormat& f);

// Resamples an interleaved loop to exactly targetFrames frames, treating it as a circle.
// Band-limited at very high quality (linear phase, about 170 dB stop band, double
// precision); the source's frame 0 falls exactly on the result's frame 0, and the filter
// runs in on the loop's tail and out on its head (repeated as often as it needs for a short
// loop), so the result repeats without a click at the seam. Being a circle, each end is
// heard in the other over the filter's reach (about 150 source frames; when shrinking, that
// times source / target frames): right for a loop. A one-shot sound (loop false) is taken
// with silence beyond either end instead, so neither end is heard in the other. The sound's own
// length comes back unchanged; no source frame gives targetFrames frames of silence; an incomplete
// trailing frame is left out. Nothing comes back for targetFrames below 1. Raises
// std::invalid_argument for channels below 1, std::runtime_error when the resampler fails
// and std::bad_alloc.
std::vector<double> ResampleLoopHq(std::span<const double> interleaved, int channels,
                                   std::int64_t targetFrames, bool loop = true);

// What a resampler of interleaved frames gives without work: nothing for targetFrames below 1,
// the sound itself at its own length, silence from no whole frame; nullopt when there is work
// to do. Raises std::invalid_argument for channels below 1 and std::bad_alloc for a result
// past the address space.
std::optional<std::vector<double>> ResampleWithoutWork(std::span<const double> interleaved,
                                                       int channels, std::int64_t targetFrames);

// Fills out with count frames (interleaved, count x channels doubles) from frame first of a
// sound; raises to stop the resampling.
using FrameSource = std::function<void(std::int64_t first, std::int64_t count, double* out)>;
// Takes frames (whole frames, interleaved) that belong at frame first of the result.
using FrameSink = std::function<void(std::int64_t first, std::span<const double> frames)>;

// As above, the very same numbers, for a sound too long to hold: the sourceFrames frames are
// asked of source a stretch at a time (a loop's wrap asks some twice) and the targetFrames
// frames of the result handed to sink as they come, each once, but not in order: a loop's
// first frames come last. Nothing is held beyond a few stretches. Raises as above, and what
// source and sink raise.
void ResampleLoopHq(const FrameSource& source, std::int64_t sourceFrames, int channels,
                    std::int64_t targetFrames, bool loop, const FrameSink& sink);

} // namespace metronel
