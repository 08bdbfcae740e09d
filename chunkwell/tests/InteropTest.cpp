// SPDX-License-Identifier: MIT
// Wave files written here are read by libsndfile's and SoX's command-line tools, and
// files made by SoX and FFmpeg are walked by the reader: the library has to agree with
// the programs musicians actually use.

#include "TestFiles.h"

#include <chunkwell/MediaSystemLicence.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

using namespace chunkwell;
using namespace testfiles;

namespace {

bool OnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string d; std::getline(dirs, d, ':');) {
        const std::string candidate = (std::filesystem::path(d) / tool).string();
        if (!d.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

#define REQUIRE_TOOL(tool)                                                                         \
    do {                                                                                           \
        if (!OnPath(tool))                                                                         \
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";        \
    } while (0)

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

struct Wave {
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
    std::size_t frames;
    bool withList;
};

class InteropTest : public TempFolderTest {
protected:
    // Runs a command line with its output and errors captured in files of the folder.
    ToolRun Run(const std::string& command) {
        const std::string out = dir.File("tool.out");
        const std::string err = dir.File("tool.err");
        const int rc =
            std::system((command + " </dev/null >" + Quoted(out) + " 2>" + Quoted(err)).c_str());
        ToolRun r;
        r.status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
        r.out = Text(ReadBytes(out));
        r.err = Text(ReadBytes(err));
        return r;
    }

    // Writes a wave file through the library as the application does, optionally with a
    // LIST/INFO container between the format and the samples.
    std::string WriteWave(const std::string& name, const Wave& w) {
        const std::string path = dir.File(name);
        const Bytes format = PcmFormat(w.channels, w.rate, w.bits);
        const Bytes samples = Counting(w.frames * w.channels * w.bits / 8, 0x40);
        auto top = msl.CreateMediaFile(path, "RIFF", "WAVE", true);
        EXPECT_TRUE(top);
        if (!top)
            return path;
        EXPECT_TRUE(top->CreateChild("fmt ", 16));
        EXPECT_TRUE(top->WriteRecord(std::as_bytes(std::span(format))));
        if (w.withList) {
            auto list = top->CreateChunk("LIST", "INFO");
            EXPECT_TRUE(list);
            for (std::string_view tag : {"ISFT:Metronel", "INAM:Loop"}) {
                const std::string value = std::string(tag.substr(5)) + '\0'; // odd sizes
                EXPECT_TRUE(
                    list->CreateChild(tag.substr(0, 4), static_cast<std::int32_t>(value.size())));
                EXPECT_TRUE(list->WriteRecord(std::as_bytes(std::span(value))));
            }
        }
        EXPECT_TRUE(top->CreateChild("data", static_cast<std::int32_t>(samples.size())));
        EXPECT_TRUE(top->WriteRecord(std::as_bytes(std::span(samples))));
        return path;
    }

    MediaSystemLicence msl;
};

// libsndfile notes every odd-sized data chunk, pad byte or not; the RIFF allows them, and
// the application must write them for 8-bit mono sounds of odd length. Every other remark
// (a RIFF size that disagrees with the file's length among them) is a fault.
std::vector<std::string> SndfileWarnings(const std::string& report, bool oddData) {
    std::vector<std::string> found;
    std::stringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (oddData && line == "*** 'data' chunk should be an even number of bytes in length.")
            continue;
        if (line.find("***") != std::string::npos || line.find("should") != std::string::npos ||
            line.find("rror") != std::string::npos || line.find("arning") != std::string::npos)
            found.push_back(line);
    }
    return found;
}

std::optional<std::string> Field(const std::string& report, const std::string& name) {
    const std::regex re("(^|\\n)" + name + "\\s*:\\s*([^\\n]*)");
    std::smatch m;
    if (!std::regex_search(report, m, re))
        return std::nullopt;
    return m[2].str();
}

const Wave kWaves[] = {
    {1, 11025, 8, 1001, false}, // mono 8-bit, odd data size: pad byte at the very end
    {2, 44100, 16, 500, false},
    {2, 22050, 16, 333, true},
};

TEST_F(InteropTest, SndfileReadsWrittenWavesWithoutComplaint) {
    REQUIRE_TOOL("sndfile-info");
    for (const Wave& w : kWaves) {
        SCOPED_TRACE(testing::Message() << w.channels << " ch " << w.bits << " bit");
        const std::string path = WriteWave("sf.wav", w);
        const ToolRun r = Run("sndfile-info " + Quoted(path));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Field(r.out, "Sample Rate"), std::to_string(w.rate)) << r.out;
        EXPECT_EQ(Field(r.out, "Channels"), std::to_string(w.channels)) << r.out;
        EXPECT_EQ(Field(r.out, "Frames"), std::to_string(w.frames)) << r.out;
        const bool odd = (w.frames * w.channels * w.bits / 8) % 2 != 0;
        EXPECT_EQ(SndfileWarnings(r.out, odd), std::vector<std::string>{}) << r.out;
        if (w.withList) {
            EXPECT_EQ(Field(r.out, "    ISFT"), "Metronel") << r.out;
            EXPECT_EQ(Field(r.out, "    INAM"), "Loop") << r.out;
        }
    }
}

TEST_F(InteropTest, SoxReadsWrittenWavesWithoutComplaint) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("soxi");
    for (const Wave& w : kWaves) {
        SCOPED_TRACE(testing::Message() << w.channels << " ch " << w.bits << " bit");
        const std::string path = WriteWave("sx.wav", w);
        for (const std::string& info : {std::string("soxi "), std::string("sox --i ")}) {
            const ToolRun r = Run(info + Quoted(path));
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_EQ(r.err, "") << info;
            EXPECT_EQ(Field(r.out, "Channels"), std::to_string(w.channels)) << r.out;
            EXPECT_EQ(Field(r.out, "Sample Rate"), std::to_string(w.rate)) << r.out;
            EXPECT_NE(r.out.find("= " + std::to_string(w.frames) + " samples"), std::string::npos)
                << r.out;
        }
        // Decoding every sample is where SoX reports a short or malformed file.
        const ToolRun decode = Run("sox -V2 " + Quoted(path) + " -n stat");
        ASSERT_EQ(decode.status, 0) << decode.err;
        EXPECT_EQ(Field(decode.err, "Samples read"), std::to_string(w.frames * w.channels))
            << decode.err;
        EXPECT_EQ(decode.err.find("WARN"), std::string::npos) << decode.err;
    }
}

// Walks the top container and returns each record's information by identifier, with the
// records of any LIST container under "LIST/" + its type + "/" + identifier.
std::map<std::string, MEDIARECORDINFO> Walk(MediaFileReader& r) {
    std::map<std::string, MEDIARECORDINFO> found;
    for (r.MoveFirst(); !r.EOF_() && !r.BOF(); r.MoveNext()) {
        const MEDIARECORDINFO info = r.RecordInfo();
        const std::string id = RecordIDToText(info.RecordID);
        found[id] = info;
        if (id == "LIST") {
            auto sub = r.ExpandChunk();
            const std::string prefix = "LIST/" + RecordIDToText(sub->ChunkType()) + "/";
            for (sub->MoveFirst(); !sub->EOF_() && !sub->BOF(); sub->MoveNext())
                found[prefix + RecordIDToText(sub->RecordInfo().RecordID)] = sub->RecordInfo();
        }
    }
    return found;
}

void ExpectPeerWave(MediaSystemLicence& msl, const std::string& path, std::uint16_t channels,
                    std::uint32_t rate, std::size_t frames) {
    const Bytes file = ReadBytes(path);
    auto r = msl.OpenMediaFile(path);
    ASSERT_TRUE(r) << msl.DisplayError();
    EXPECT_EQ(r->ChunkID(), ID("RIFF"));
    EXPECT_EQ(r->ChunkType(), ID("WAVE"));
    EXPECT_EQ(static_cast<std::size_t>(r->ChunkSize()) + 8, file.size());
    const auto records = Walk(*r);
    ASSERT_TRUE(records.count("fmt ") && records.count("data"));

    const MEDIARECORDINFO fmt = records.at("fmt ");
    ASSERT_GE(fmt.RecordSize, 16);
    const auto at = static_cast<std::size_t>(fmt.FileOffset);
    EXPECT_EQ(GetLE16(file, at), 1u);
    EXPECT_EQ(GetLE16(file, at + 2), channels);
    EXPECT_EQ(GetLE32(file, at + 4), rate);
    const MEDIARECORDINFO data = records.at("data");
    EXPECT_EQ(static_cast<std::size_t>(data.RecordSize), frames * channels * 2);
    EXPECT_EQ(static_cast<std::size_t>(data.FileOffset) + data.RecordSize, file.size());

    // The reader delivers the very bytes the peer wrote.
    r->MoveLast();
    ASSERT_EQ(r->RecordInfo().RecordID, ID("data"));
    std::vector<std::byte> samples(static_cast<std::size_t>(data.RecordSize));
    ASSERT_TRUE(r->ReadRecord(samples));
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(),
                           std::as_bytes(std::span(file)).begin() + data.FileOffset));
}

TEST_F(InteropTest, ReaderWalksWavesMadeBySox) {
    REQUIRE_TOOL("sox");
    const std::string path = dir.File("made-by-sox.wav");
    const ToolRun r = Run("sox -n -r 22050 -c 2 -b 16 " + Quoted(path) + " synth 0.1 sine 440");
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectPeerWave(msl, path, 2, 22050, 2205);
}

TEST_F(InteropTest, ReaderWalksWavesMadeByFfmpegWithTheirInfoList) {
    REQUIRE_TOOL("ffmpeg");
    const std::string path = dir.File("made-by-ffmpeg.wav");
    const ToolRun r =
        Run("ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "
            "sine=frequency=440:sample_rate=48000:duration=0.1 -ac 1 -metadata title=Loop "
            "-c:a pcm_s16le -y " +
            Quoted(path));
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectPeerWave(msl, path, 1, 48000, 4800);

    auto reader = msl.OpenMediaFile(path);
    ASSERT_TRUE(reader);
    const auto records = Walk(*reader);
    ASSERT_TRUE(records.count("LIST/INFO/ISFT")) << "no software tag in the INFO list";
    ASSERT_TRUE(records.count("LIST/INFO/INAM")) << "no title in the INFO list";
    const MEDIARECORDINFO title = records.at("LIST/INFO/INAM");
    EXPECT_EQ(title.RecordSize, 5); // "Loop" and its NUL: the next tag follows a pad byte
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(Text(Bytes(file.begin() + title.FileOffset, file.begin() + title.FileOffset + 4)),
              "Loop");
}

} // namespace
