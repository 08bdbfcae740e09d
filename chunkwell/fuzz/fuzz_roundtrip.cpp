// SPDX-License-Identifier: MIT
// Copies whatever the reader finds in any bytes through a writer into a new file, then
// reads the copy back: the same identifiers, types, sizes and data must come out, the copy
// must be exactly as long as its sizes say, and the reader must have delivered the input's
// own bytes.
//
// A record may claim more data than the input holds (the file ends inside it). The reader
// then delivers only what is there, without saying how much, so the copy is defined as the
// input's bytes followed by zeros up to the record's size: the delivered bytes are checked
// against the input itself, the zeros stand for what never existed, and the copy is a
// complete file that must read back byte for byte.
//
// Records named RIFF or LIST are copied as containers (through CreateChunk), as a caller
// that knows them would do; their sizes in the copy are those of what was copied.

#include <chunkwell/MediaSystemLicence.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace chunkwell;

constexpr int kMaxDepth = 3;
constexpr int kMaxRecords = 64; // per container

struct Node {
    std::int32_t id = 0;
    std::int32_t size = 0; // as the copy has it
    bool container = false;
    std::int32_t type = 0;
    std::vector<std::byte> data;
    std::vector<Node> children;
};

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    int budget = 512; // record visits over all depths
};

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "roundtrip finding: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok)
        Finding(what);
}

std::int32_t Padded(std::int32_t size) {
    return size + (size & 1);
}

bool IsContainerID(std::int32_t id) {
    return id == RecordIDFromText("RIFF") || id == RecordIDFromText("LIST");
}

// The bytes a reader must deliver for a record: the input's, then zeros past its end.
std::vector<std::byte> Expected(const Input& in, const MEDIARECORDINFO& info) {
    std::vector<std::byte> bytes(static_cast<std::size_t>(info.RecordSize));
    const std::int64_t from = info.FileOffset;
    const std::int64_t to =
        std::min<std::int64_t>(from + info.RecordSize, static_cast<std::int64_t>(in.size));
    if (from >= 0 && to > from)
        std::memcpy(bytes.data(), in.data + from, static_cast<std::size_t>(to - from));
    return bytes;
}

// Copies the records of one reader's container into one writer's, depth first.
void Copy(MediaFileReader& reader, MediaFileWriter& writer, Node& into, const Input& in, int depth,
          int& budget) {
    try {
        reader.MoveFirst();
        if (reader.BOF() && !reader.EOF_())
            reader.MoveNext();
    } catch (const MediaError&) {
        return;
    }
    for (int n = 0; n < kMaxRecords && !reader.EOF_() && !reader.BOF() && budget-- > 0; ++n) {
        const MEDIARECORDINFO info = reader.RecordInfo();
        const std::size_t before = into.children.size();

        std::shared_ptr<MediaFileReader> inner;
        if (depth < kMaxDepth && IsContainerID(info.RecordID) && info.RecordSize >= 4) {
            try {
                inner = reader.ExpandChunk();
            } catch (const MediaError&) {
                // its end lies beyond 32 bits: copy it as plain data if small enough
            }
        }
        if (inner) {
            auto sub = writer.CreateChunk(info.RecordID, inner->ChunkType());
            Check(sub != nullptr, "CreateChunk failed");
            Node node{info.RecordID, 4, true, inner->ChunkType(), {}, {}};
            Copy(*inner, *sub, node, in, depth + 1, budget);
            Check(sub->ChunkSize() == node.size, "sub-container size differs from its records");
            into.children.push_back(std::move(node));
        } else if (info.RecordSize >= 0 && static_cast<std::size_t>(info.RecordSize) <= in.size) {
            std::vector<std::byte> data(static_cast<std::size_t>(info.RecordSize));
            Check(reader.ReadRecord(data), "ReadRecord of a listed record failed");
            Node node{info.RecordID, info.RecordSize, false, 0, Expected(in, info), {}};
            Check(data == node.data, "reader delivered other bytes than the input holds");
            Check(writer.CreateChild(info.RecordID, info.RecordSize), "CreateChild failed");
            Check(writer.WriteRecord(data), "WriteRecord failed");
            into.children.push_back(std::move(node));
        } // else: a size no input this small can back; not copied
        if (into.children.size() > before)
            into.size += 8 + Padded(into.children.back().size);

        try {
            reader.MoveNext();
        } catch (const MediaError&) {
            return;
        }
    }
}

// Reads the copy back and compares it with what was written, record by record.
void Verify(MediaFileReader& reader, const Node& expected, std::int32_t headerOffset) {
    Check(reader.ChunkID() == expected.id, "container identifier differs");
    Check(reader.ChunkType() == expected.type, "container type differs");
    Check(reader.ChunkSize() == expected.size, "container size differs");
    reader.MoveLast();
    Check(reader.Records() == static_cast<std::int32_t>(expected.children.size()),
          "number of records differs");
    std::int32_t offset = headerOffset + 12;
    for (std::size_t i = 0; i < expected.children.size(); ++i) {
        const Node& child = expected.children[i];
        reader.MoveTo(static_cast<std::int32_t>(i + 1));
        const MEDIARECORDINFO info = reader.RecordInfo();
        Check(info.RecordID == child.id, "record identifier differs");
        Check(info.RecordSize == child.size, "record size differs");
        Check(info.FileOffset == offset + 8, "record offset differs");
        if (child.container) {
            auto inner = reader.ExpandChunk();
            Verify(*inner, child, offset);
        } else {
            std::vector<std::byte> data(static_cast<std::size_t>(child.size));
            Check(reader.ReadRecord(data), "ReadRecord of the copy failed");
            Check(data == child.data, "record data differs");
        }
        offset += 8 + Padded(child.size);
    }
}

int MemoryFile(const char* name) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int inFd = MemoryFile("chunkwell-roundtrip-in");
    static const int outFd = MemoryFile("chunkwell-roundtrip-out");
    static const std::string inPath = "/proc/self/fd/" + std::to_string(inFd);
    static const std::string outPath = "/proc/self/fd/" + std::to_string(outFd);
    if (::ftruncate(inFd, 0) != 0 || ::pwrite(inFd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();

    MediaSystemLicence msl;
    Input in{data, size};
    Node top;
    {
        std::shared_ptr<MediaFileReader> reader;
        try {
            reader = msl.OpenMediaFile(inPath);
        } catch (const OverflowError&) {
            return 0; // a top size that reaches past 32 bits: no container to copy
        }
        Check(reader != nullptr, "the input cannot be opened");
        top.id = reader->ChunkID();
        top.type = reader->ChunkType();
        top.size = 4;
        top.container = true;
        auto writer = msl.CreateMediaFile(outPath, top.id, top.type, true);
        Check(writer != nullptr, "the copy cannot be created");
        Copy(*reader, *writer, top, in, 0, in.budget);
        Check(writer->ChunkSize() == top.size, "top size differs from its records");
    } // releasing the writers finishes the copy

    struct stat st {};
    Check(::fstat(outFd, &st) == 0 && st.st_size == 8 + static_cast<off_t>(top.size),
          "the copy is not as long as its sizes say");
    auto copy = msl.OpenMediaFile(outPath);
    Check(copy != nullptr, "the copy cannot be opened");
    Verify(*copy, top, 0);
    return 0;
}
