// SPDX-License-Identifier: MIT
// Choosing the bars and beats a command works with: given, from the "acid" record, heard from
// the sound (mdlTempoGuess.cpp) or from the guess range.
#include "mdlTempoGuess.h"

#include "mdlBytes.h"
#include "mdlHqResample.h"
#include "mdlMain.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace metronel {

const char* MeterSourceText(MeterSource source) {
    switch (source) {
    case MeterSource::Given:
        break;
    case MeterSource::TempoRecord:
        return "tempo record";
    case MeterSource::Sound:
        return "guessed from the sound";
    case MeterSource::Range:
        return "guessed from the range";
    }
    return "given";
}

const char* MeterSourceKey(MeterSource source) {
    switch (source) {
    case MeterSource::Given:
        break;
    case MeterSource::TempoRecord:
        return "record";
    case MeterSource::Sound:
        return "sound";
    case MeterSource::Range:
        return "range";
    }
    return "given";
}

std::optional<AcidRecord> ReadAcidRecord(std::span<const std::byte> bytes) {
    if (bytes.size() < 24)
        return std::nullopt;
    AcidRecord record;
    record.flags = static_cast<std::uint32_t>(GetLE(bytes, 0, 4));
    record.beats = static_cast<std::uint32_t>(GetLE(bytes, 12, 4));
    record.meterBelow = static_cast<std::uint16_t>(GetLE(bytes, 16, 2));
    record.meterAbove = static_cast<std::uint16_t>(GetLE(bytes, 18, 2));
    record.tempo = std::bit_cast<float>(static_cast<std::uint32_t>(GetLE(bytes, 20, 4)));
    return record;
}

bool HoldsTempo(const AcidRecord& record) {
    if (record.OneShot() || record.beats == 0 || record.meterAbove > 64)
        return false;
    const float bars = record.Bars();
    return bars >= 0.1f && bars <= 64.0f;
}

std::optional<int> GuessBarsFromRange(std::int64_t frames, std::int32_t rate, float beatsPerBar,
                                      double low, double high) {
    if (frames < 1 || frames > INT32_MAX || rate < 1)
        return std::nullopt;
    for (int bars = 1; bars <= 64; bars *= 2) {
        double bpm = 0;
        SkipOnError([&] {
            bpm = BpmFromSamples(static_cast<std::int32_t>(frames), rate, static_cast<float>(bars),
                                 beatsPerBar);
        });
        if (bpm >= low && bpm <= high)
            return bars;
    }
    return std::nullopt;
}

std::vector<float> MonoFrames(const WaveFile& wave) {
    const auto format = SampleFormatFromFmt(wave.Fmt());
    if (!format || !format->IsValid())
        return {};
    const auto align = static_cast<std::size_t>(format->blockAlign);
    const auto channels = static_cast<std::size_t>(format->channels);
    std::vector<float> mono(static_cast<std::size_t>(wave.DataSize()) / align);
    // A block at a time, so that a long sound is never held as doubles whole.
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<std::byte> bytes(kBlock * align);
    for (std::size_t first = 0; first < mono.size(); first += kBlock) {
        const std::size_t count = std::min(kBlock, mono.size() - first);
        const std::span block = std::span(bytes).first(count * align);
        wave.ReadSound(static_cast<std::int64_t>(first * align), block);
        const std::vector<double> samples = DecodeSamples(block, *format);
        for (std::size_t f = 0; f < count; ++f) {
            double sum = 0;
            for (std::size_t c = 0; c < channels; ++c)
                sum += samples[f * channels + c];
            const double mean = sum / static_cast<double>(channels);
            mono[first + f] = std::isfinite(mean) ? static_cast<float>(mean) : 0.0f;
        }
    }
    return mono;
}

std::optional<MeterChoice> ChooseMeter(const WaveFile& wave, const MeterRequest& request) {
    MeterChoice choice;
    choice.meter = {request.bars.value_or(1), request.beats.value_or(4), MeterSource::Given};
    std::optional<AcidRecord> acid;
    for (const WaveRecord& record : wave.records)
        if (record.id == FourCC("acid"))
            acid = ReadAcidRecord(record.bytes);
    if (acid && HoldsTempo(*acid) && std::isfinite(acid->tempo) && acid->tempo > 0)
        choice.recordTempo = acid->tempo;
    if (request.bars && request.beats)
        return choice;
    if (acid && HoldsTempo(*acid)) {
        // A bar count given keeps the record's meter (as --bars alone has always meant bars
        // of the usual beats); beats a bar given regroup the record's beats into bars.
        const auto total = static_cast<float>(acid->beats);
        Meter meter{acid->Bars(), acid->BeatsPerBar(), MeterSource::TempoRecord};
        if (request.beats)
            meter = {total / *request.beats, *request.beats, MeterSource::TempoRecord};
        else if (request.bars)
            meter = {*request.bars, acid->BeatsPerBar(), MeterSource::TempoRecord};
        if (meter.bars >= 0.1f && meter.bars <= 64.0f && meter.beatsPerBar >= 0.1f &&
            meter.beatsPerBar <= 64.0f) {
            choice.meter = meter;
            return choice;
        }
    }
    if (!request.guess || request.bars)
        return choice;
    const std::int32_t rate = wave.Rate();
    GuessOptions options;
    options.low = request.low;
    options.high = request.high;
    const float beats = request.beats.value_or(0);
    // The sound is heard only for whole beats a bar: 3 or 4, or the number given.
    if (beats == 0 || (beats == std::floor(beats) && beats >= 1)) {
        options.beatsPerBar = static_cast<int>(beats);
        // Decoded only when some grid's tempo can lie in the range: a long recording has
        // none, and its samples are not needed.
        const double seconds = static_cast<double>(wave.Frames()) / std::max(rate, 1);
        const bool inReach = seconds > 0 &&
                             60.0 * 64 * (beats > 0 ? beats : 4) / seconds >= options.low &&
                             60.0 * (beats > 0 ? beats : 3) / seconds <= options.high;
        if (const auto heard =
                inReach ? GuessMeterFromSound(MonoFrames(wave), rate, options) : std::nullopt) {
            choice.meter = {static_cast<float>(heard->bars), static_cast<float>(heard->beatsPerBar),
                            MeterSource::Sound};
            return choice;
        }
    }
    const float rangeBeats = request.beats.value_or(4);
    const auto bars =
        GuessBarsFromRange(wave.Frames(), rate, rangeBeats, request.low, request.high);
    if (!bars)
        return std::nullopt;
    choice.meter = {static_cast<float>(*bars), rangeBeats, MeterSource::Range};
    return choice;
}

} // namespace metronel
