// Opens any bytes as a chunk file and walks everything in it: every record read whole and
// in part, every record expanded as a container down to a fixed depth. The library's own
// errors are expected answers to bad input; anything else (a crash, a sanitizer report,
// another exception) is a finding.

#include <chunkwell/MediaSystemLicence.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using chunkwell::MediaError;
using chunkwell::MediaFileReader;

constexpr int kMaxDepth = 4;

struct Budget {
    int steps = 20000;   // record visits per input, over all depths
    std::size_t maxRead; // no record larger than the input is ever buffered
};

void Walk(MediaFileReader& reader, int depth, Budget& budget) {
    reader.RecordCache(1 + depth * 3);
    try {
        reader.MoveFirst();
    } catch (const MediaError&) {
    }
    if (reader.BOF() && !reader.EOF_())
        try {
            reader.MoveNext();
        } catch (const MediaError&) {
        }
    while (!reader.EOF_() && !reader.BOF() && budget.steps-- > 0) {
        const auto info = reader.RecordInfo();
        if (info.RecordSize >= 0 && static_cast<std::size_t>(info.RecordSize) <= budget.maxRead) {
            std::vector<std::byte> buffer(static_cast<std::size_t>(info.RecordSize));
            try {
                (void)reader.ReadRecord(buffer);
                (void)reader.ReadRecord(buffer, info.RecordSize / 2, 0);
                (void)reader.ReadRecord(std::span(buffer).first(buffer.size() / 2), 0, 0);
            } catch (const MediaError&) {
            }
        }
        if (depth < kMaxDepth) {
            try {
                auto inner = reader.ExpandChunk();
                Walk(*inner, depth + 1, budget);
            } catch (const MediaError&) {
            }
        }
        try {
            reader.MoveNext();
        } catch (const MediaError&) {
        }
    }
    // Jump about the discovered records as a caller might.
    try {
        reader.MoveLast();
        reader.MovePrev();
        if (reader.Records() > 0)
            reader.MoveTo((reader.Records() + 1) / 2);
    } catch (const MediaError&) {
    }
}

int InputFile() {
    static const int fd = [] {
        int f = ::memfd_create("chunkwell-fuzz", MFD_CLOEXEC);
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
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);

    chunkwell::MediaSystemLicence msl;
    Budget budget{20000, size};
    try {
        auto reader = msl.OpenMediaFile(path);
        if (!reader)
            std::abort(); // a regular file that exists must always open
        Walk(*reader, 0, budget);
    } catch (const MediaError&) {
    }
    return 0;
}
