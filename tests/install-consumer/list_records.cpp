// Lists the records of a wave file: one line per record, its four-character identifier,
// a space and its size. Reads every record's data on the way; writes nothing to the file.
//
//   list_records <file.wav>

#include <chunkwell/MediaSystemLicence.h>

#include <cstddef>
#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.wav>\n", argv[0]);
        return 2;
    }
    try {
        chunkwell::MediaSystemLicence msl;
        auto reader = msl.OpenMediaFile(argv[1], true);
        if (!reader) {
            std::fprintf(stderr, "%s: %s\n", argv[1], msl.DisplayError().c_str());
            return 1;
        }
        if (reader->ChunkID() != msl.FormatRecordID("RIFF") ||
            reader->ChunkType() != msl.FormatRecordID("WAVE")) {
            std::fprintf(stderr, "%s: not a wave file\n", argv[1]);
            return 1;
        }
        for (const chunkwell::MEDIARECORDINFO& info : reader->Walk()) {
            std::vector<std::byte> data(static_cast<std::size_t>(info.RecordSize));
            if (!data.empty() && !reader->ReadRecord(data)) {
                std::fprintf(stderr, "%s: cannot read a record: %s\n", argv[1],
                             msl.DisplayError().c_str());
                return 1;
            }
            std::printf("%s %d\n", msl.FormatRecordID(info.RecordID).c_str(),
                        static_cast<int>(info.RecordSize));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
