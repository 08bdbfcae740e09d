// Writes one second of silence as a mono 8-bit wave file, and says whether every byte,
// the sizes in the headers included, reached the file.
//
//   write_wave <out.wav>

#include <chunkwell/MediaSystemLicence.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <out.wav>\n", argv[0]);
        return 2;
    }
    try {
        // PCM, 1 channel, 8000 frames a second, 8000 bytes a second, 1 byte a frame, 8 bits.
        const std::array<unsigned char, 16> format = {1,    0,    1, 0, 0x40, 0x1F, 0, 0,
                                                      0x40, 0x1F, 0, 0, 1,    0,    8, 0};
        const std::vector<std::byte> silence(8000, std::byte{0x80});

        chunkwell::MediaSystemLicence msl;
        auto writer = msl.CreateMediaFile(argv[1], "RIFF", "WAVE", true);
        if (!writer) {
            std::fprintf(stderr, "%s: %s\n", argv[1], msl.DisplayError().c_str());
            return 1;
        }
        const bool written = writer->CreateChild("fmt ", format.size()) &&
                             writer->WriteRecord(std::as_bytes(std::span(format))) &&
                             writer->CreateChild("data", silence.size()) &&
                             writer->WriteRecord(silence) && writer->Finish();
        if (!written) {
            std::fprintf(stderr, "%s: %s\n", argv[1],
                         chunkwell::ErrorText(chunkwell::mfec_WriteToDataFailed).c_str());
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
