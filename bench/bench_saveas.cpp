// Save As without the window, for scripts/bench-saveas to time against cp.
//
//   bench_saveas make <path> <MiB>        writes a 16-bit stereo 44.1 kHz wave of that size
//   bench_saveas save <in> <out> <factor> writes <in> at factor x its length as Save As does
//                                         (flushed to the disk); prints seconds and peak memory
#include "mdlWaveOut.h"

#include <chunkwell/MediaSystemLicence.h>

#include <QString>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace metronel;

namespace {

int Make(const char* path, long long mebibytes) {
    const WAVEFORMATINFO format{1, 2, 44100, 176400, 4, 16};
    SoundBuffer sound(static_cast<std::size_t>(mebibytes) << 20);
    std::uint32_t x = 12345;
    auto* words = reinterpret_cast<std::uint32_t*>(sound.data());
    for (std::size_t i = 0; i < sound.size() / 4; ++i) {
        x = x * 1664525u + 1013904223u; // any sound will do; not all the same bytes
        words[i] = x;
    }
    chunkwell::MediaSystemLicence msl;
    const WaveOutResult result =
        WriteWaveFile(msl, QString::fromLocal8Bit(path), format, sound.span(), true);
    if (!result.Written()) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, result.errorText.c_str());
        return 1;
    }
    return 0;
}

int Save(const char* in, const char* out, double factor) {
    const auto start = std::chrono::steady_clock::now();
    chunkwell::MediaSystemLicence msl;
    auto reader = msl.OpenMediaFile(in);
    if (!reader) {
        std::fprintf(stderr, "cannot open %s: %s\n", in, msl.DisplayError().c_str());
        return 1;
    }
    // Walk to "data" as the window's open does, taking "fmt " on the way.
    WAVEFORMATINFO format;
    chunkwell::MEDIARECORDINFO data{};
    bool found = false;
    for (reader->MoveFirst(); !reader->EOF_(); reader->MoveNext()) {
        const auto info = reader->RecordInfo();
        if (info.RecordID == msl.FormatRecordID("fmt ")) {
            std::vector<std::byte> bytes(static_cast<std::size_t>(info.RecordSize));
            reader->ReadRecord(bytes);
            format = WAVEFORMATINFO::FromBytes(bytes);
        } else if (info.RecordID == msl.FormatRecordID("data")) {
            data = info;
            found = true;
            break;
        }
    }
    if (!found || format.BlockAlign < 1) {
        std::fprintf(stderr, "%s is not a wave file this can read\n", in);
        return 1;
    }
    const auto read = std::chrono::steady_clock::now();
    const auto n = static_cast<std::int32_t>(
        std::nearbyint(static_cast<double>(data.RecordSize / format.BlockAlign) * factor));
    // As the window's Save As: the file holds the sound (checked), then a copy at its own
    // length or the sound read and picked at a new one, flushed and renamed in.
    const WaveOutResult result =
        SaveSoundAs(msl, QString::fromLocal8Bit(out), format, *reader, data.RecordSize, n);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result.Written()) {
        std::fprintf(stderr, "cannot write %s: %s\n", out, result.errorText.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("frames %d -> %d, %.3f s inside (%.3f s to open), peak memory %.1f MiB\n",
                data.RecordSize / format.BlockAlign, n, seconds,
                std::chrono::duration<double>(read - start).count(),
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return Make(argv[2], std::atoll(argv[3]));
    if (argc == 5 && std::strcmp(argv[1], "save") == 0)
        return Save(argv[2], argv[3], std::atof(argv[4]));
    std::fprintf(stderr, "usage: %s make <path> <MiB> | save <in> <out> <factor>\n", argv[0]);
    return 2;
}
