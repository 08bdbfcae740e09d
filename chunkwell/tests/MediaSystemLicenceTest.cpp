// SPDX-License-Identifier: MIT
#include "TestFiles.h"
#include "mdlGlobal.h"

#include <chunkwell/MediaSystemLicence.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

using namespace chunkwell;
using namespace testfiles;

namespace {

const std::string kOpenFailedText = "Failed to open file.\r\n"
                                    "Please make sure this file is not open by another process\r\n"
                                    "or the filename/path is correct.";

class MediaSystemLicenceTest : public TempFolderTest {
protected:
    std::string Wave() {
        const std::string path = dir.File("a.wav");
        WriteBytes(path, WaveFile(Counting(4)));
        return path;
    }

    // Runs probe in a child process and returns its exit status (0..255).
    template <typename F> static int InChild(F probe) {
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(probe());
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
    }

    MediaSystemLicence msl;
};

// ---- errors ----

// A folder or a pipe must not be waited on; each refusal sets the code anew.
TEST_F(MediaSystemLicenceTest, RefusedOpensGiveCodeOneAndItsText) {
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {dir.File("missing.wav"), dir.Path().string(), fifo, std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(msl.OpenMediaFile(Wave()));
        EXPECT_EQ(msl.Error(), mfec_NoError);
        EXPECT_EQ(msl.DisplayError(), "");
        EXPECT_FALSE(msl.OpenMediaFile(path));
        EXPECT_EQ(msl.Error(), mfec_OpenFileFailed);
        EXPECT_EQ(msl.DisplayError(), kOpenFailedText);
    }
}

TEST_F(MediaSystemLicenceTest, DisplayErrorTextOfEveryCode) {
    struct Row {
        std::int32_t code;
        const char* text;
    };
    const Row rows[] = {
        {0, ""},
        {1, kOpenFailedText.c_str()},
        {2, "Failed to create file.\r\nPlease make sure this file is not open by another "
            "process\r\nor the path/filename does not already exist."},
        {3, "An error occurred trying to read this file's data."},
        {4, "An error occurred trying to write to this file."},
        {5, ""},
        {-1, ""},
        {0x7FFFFFFF, ""},
    };
    for (const auto& row : rows) {
        LastErrorCode() = static_cast<MediaFileErrorCodes>(row.code);
        EXPECT_EQ(msl.Error(), row.code);
        EXPECT_EQ(msl.DisplayError(), std::string(row.text)) << "code " << row.code;
        EXPECT_EQ(ErrorText(row.code), std::string(row.text)) << "code " << row.code;
    }
    LastErrorCode() = mfec_NoError;
}

TEST_F(MediaSystemLicenceTest, LastErrorIsSharedByControlsButNotByThreads) {
    MediaSystemLicence other;
    EXPECT_FALSE(msl.OpenMediaFile(dir.File("missing")));
    EXPECT_EQ(other.Error(), mfec_OpenFileFailed);
    MediaFileErrorCodes seen = mfec_WriteToDataFailed;
    std::thread([&] { seen = MediaSystemLicence().Error(); }).join();
    EXPECT_EQ(seen, mfec_NoError);
    EXPECT_EQ(other.Error(), mfec_OpenFileFailed);
}

// ---- sharing ----

TEST_F(MediaSystemLicenceTest, ExclusiveOpenKeepsOthersOutUntilReleased) {
    const std::string path = Wave();
    auto first = msl.OpenMediaFile(path);
    ASSERT_TRUE(first);
    EXPECT_FALSE(msl.OpenMediaFile(path));
    EXPECT_EQ(msl.Error(), mfec_OpenFileFailed);
    EXPECT_FALSE(msl.OpenMediaFile(path, true));
    first.reset();
    EXPECT_TRUE(msl.OpenMediaFile(path));
}

TEST_F(MediaSystemLicenceTest, SharedOpensCoexistButKeepExclusiveOut) {
    const std::string path = Wave();
    auto a = msl.OpenMediaFile(path, true);
    auto b = msl.OpenMediaFile(path, true);
    EXPECT_TRUE(a);
    EXPECT_TRUE(b);
    EXPECT_FALSE(msl.OpenMediaFile(path, false));
    // Each shared reader keeps its own file pointer.
    a->MoveLast();
    b->MoveFirst();
    EXPECT_EQ(b->RecordInfo().RecordID, ID("fmt "));
    EXPECT_EQ(a->RecordInfo().RecordID, ID("data"));
}

TEST_F(MediaSystemLicenceTest, LocksHoldAcrossProcesses) {
    const std::string path = Wave();
    {
        auto held = msl.OpenMediaFile(path);
        ASSERT_TRUE(held);
        EXPECT_EQ(InChild([&] {
                      MediaSystemLicence child;
                      return !child.OpenMediaFile(path, true) && child.Error() == 1 ? 0 : 1;
                  }),
                  0);
    }
    {
        auto shared = msl.OpenMediaFile(path, true);
        EXPECT_EQ(InChild([&] {
                      MediaSystemLicence child;
                      bool sharedOk = child.OpenMediaFile(path, true) != nullptr;
                      bool exclusiveRefused = !child.OpenMediaFile(path, false);
                      return sharedOk && exclusiveRefused ? 0 : 1;
                  }),
                  0);
    }
    // Released in this process: the child may now take it alone.
    EXPECT_EQ(InChild([&] { return MediaSystemLicence().OpenMediaFile(path) ? 0 : 1; }), 0);
}

// ---- identifiers ----

TEST_F(MediaSystemLicenceTest, FormatRecordIDConvertsBothWays) {
    // Text: the first four bytes, first one least significant, padded with spaces; a NUL
    // ends the text.
    struct Row {
        std::string_view text;
        std::int32_t id;
    };
    const Row rows[] = {
        {"RIFF", 0x46464952},     {"WAVE", 0x45564157}, {"fmt ", 0x20746D66},
        {"fmt", 0x20746D66},      {"data", 0x61746164}, {"DATA", 0x41544144},
        {"RIFFX", 0x46464952},    {"", 0x20202020},     {std::string_view("a\0bc", 4), 0x20202061},
        {"\xFF\xFF\xFF\xFF", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(msl.FormatRecordID(row.text), row.id) << row.text;
    EXPECT_EQ(msl.FormatRecordID(std::string("data")), 0x61746164);

    // A 32-bit number: all four bytes, NULs included.
    EXPECT_EQ(msl.FormatRecordID(std::int32_t{0x46464952}), "RIFF");
    EXPECT_EQ(msl.FormatRecordID(std::int32_t{0x20746D66}), "fmt ");
    EXPECT_EQ(msl.FormatRecordID(std::int32_t{0}), std::string(4, '\0'));
    EXPECT_EQ(msl.FormatRecordID(std::int32_t{0x41}), std::string("A\0\0\0", 4));
    EXPECT_EQ(msl.FormatRecordID(std::int32_t{-1}), std::string(4, '\xFF'));

    // Operations take an identifier as text or as a number.
    EXPECT_EQ(RecordIdArg("data").Value(), 0x61746164);
    EXPECT_EQ(RecordIdArg(std::string("fmt")).Value(), 0x20746D66);
    EXPECT_EQ(RecordIdArg(5).Value(), 5);
}

TEST_F(MediaSystemLicenceTest, OtherNumberTypesGoThroughTheirText) {
    struct Row {
        std::int32_t got;
        const char* text;
    };
    const Row rows[] = {
        {msl.FormatRecordID(std::int16_t{5}), "5"},
        {msl.FormatRecordID(std::int64_t{0x61746164}), "1635"}, // 1635017060
        {msl.FormatRecordID(std::uint8_t{200}), "200"},
        {msl.FormatRecordID(-12L), "-12"},
        {msl.FormatRecordID(1.5), "1.5"},
        {msl.FormatRecordID(1.1f), "1.1"},
        {msl.FormatRecordID(0.25), "0.25"},
        {msl.FormatRecordID(-0.0), "0"},
        {msl.FormatRecordID(1e18), "1000"}, // whole numbers in plain digits
        {msl.FormatRecordID(1e20), "1E+2"}, // beyond 64 bits: with an exponent
        {msl.FormatRecordID(1e-7), "1E-0"},
        {msl.FormatRecordID(true), "True"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RecordIDToText(row.got), RecordIDToText(RecordIDFromText(row.text))) << row.text;
}

// ---- the control ----

TEST_F(MediaSystemLicenceTest, ResizeAlwaysGivesTwentyFourByTwentyTwoPixels) {
    const auto size = MediaSystemLicence::Resize(15, 15);
    EXPECT_EQ(size.Width, 360);
    EXPECT_EQ(size.Height, 330);
    const auto odd = MediaSystemLicence::Resize(12, 20);
    EXPECT_EQ(odd.Width, 24 * 12);
    EXPECT_EQ(odd.Height, 22 * 20);
}

// Reads an XPM picture into rows of colour values ("#C0C0C0").
std::vector<std::vector<std::string>> ReadXpm(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> strings;
    const std::regex quoted("\"([^\"]*)\"");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, quoted))
            strings.push_back(m[1]);
    }
    if (strings.empty())
        return {};
    int width = 0, height = 0, colours = 0, chars = 0;
    std::istringstream(strings[0]) >> width >> height >> colours >> chars;
    std::map<char, std::string> palette;
    for (int i = 1; i <= colours; ++i)
        palette[strings.at(static_cast<std::size_t>(i))[0]] =
            strings[static_cast<std::size_t>(i)].substr(
                strings[static_cast<std::size_t>(i)].rfind(' ') + 1);
    std::vector<std::vector<std::string>> pixels;
    for (std::size_t r = static_cast<std::size_t>(colours) + 1; r < strings.size(); ++r) {
        std::vector<std::string> row;
        for (char c : strings[r])
            row.push_back(palette.at(c));
        EXPECT_EQ(row.size(), static_cast<std::size_t>(width));
        pixels.push_back(row);
    }
    EXPECT_EQ(pixels.size(), static_cast<std::size_t>(height));
    return pixels;
}

TEST(MediaSystemLicencePictures, DesignerPictureIsARaisedFramedButton) {
    const auto p = ReadXpm(METRONEL_SOURCE_DIR "/resources/MediaSystemLicence.xpm");
    ASSERT_EQ(p.size(), 22u);
    ASSERT_EQ(p[0].size(), 24u);
    for (auto [r, c] : {std::pair{0, 0}, {0, 23}, {21, 0}, {21, 23}})
        EXPECT_EQ(p[r][c], "#C0C0C0") << "corner " << r << "," << c;
    for (int c = 1; c < 23; ++c) {
        EXPECT_EQ(p[0][c], "#000000");
        EXPECT_EQ(p[21][c], "#000000");
        EXPECT_EQ(p[20][c], "#808080");
    }
    for (int r = 1; r < 21; ++r) {
        EXPECT_EQ(p[r][0], "#000000");
        EXPECT_EQ(p[r][23], "#000000");
        EXPECT_EQ(p[r][22], "#808080");
    }
    EXPECT_EQ(p[1][1], "#FFFFFF");
    EXPECT_EQ(p[10][1], "#FFFFFF");
    EXPECT_EQ(p[1][10], "#FFFFFF");
    EXPECT_EQ(p[19][10], "#808080");
    EXPECT_EQ(p[10][21], "#808080");
    EXPECT_EQ(p[3][3], "#C0C0C0");
    int black = 0;
    for (int r = 2; r < 19; ++r)
        for (int c = 2; c < 21; ++c)
            black += p[r][c] == "#000000";
    EXPECT_GT(black, 20) << "the note is drawn on the face";
}

TEST(MediaSystemLicencePictures, ToolboxIconIsFramedSixteenByFifteen) {
    const auto p = ReadXpm(METRONEL_SOURCE_DIR "/resources/MediaSystemLicence30000.xpm");
    ASSERT_EQ(p.size(), 15u);
    ASSERT_EQ(p[0].size(), 16u);
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(p[0][c], "#000000");
        EXPECT_EQ(p[14][c], "#000000");
    }
    EXPECT_EQ(p[13][5], "#808080");
    EXPECT_EQ(p[5][14], "#808080");
    EXPECT_EQ(p[1][1], "#C0C0C0");
}

} // namespace
