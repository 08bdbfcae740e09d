#include "mdlGlobal.h"

#include <gtest/gtest.h>

#include <thread>

using namespace chunkwell;

namespace {

TEST(RecordID, FromTextTakesFourBytesPaddedWithSpaces) {
    struct Row {
        std::string_view text;
        std::int32_t id;
    };
    const Row rows[] = {
        {"RIFF", 0x46464952},     {"fmt ", 0x20746D66},
        {"fmt", 0x20746D66},      {"data", 0x61746164},
        {"DATA", 0x41544144},     {"dataX", 0x61746164},
        {"", 0x20202020},         {std::string_view("a\0bc", 4), 0x20202061},
        {"\xFF\xFF\xFF\xFF", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RecordIDFromText(row.text), row.id) << row.text;
}

TEST(RecordID, ToTextKeepsAllFourBytes) {
    EXPECT_EQ(RecordIDToText(0x61746164), "data");
    EXPECT_EQ(RecordIDToText(0x00000041), std::string("A\0\0\0", 4));
    EXPECT_EQ(RecordIDToText(RecordIDFromText("WAVE")), "WAVE");
}

TEST(RecordID, ArgumentTakesTextOrNumber) {
    EXPECT_EQ(RecordIdArg("data").Value(), RecordIdArg(0x61746164).Value());
    EXPECT_EQ(RecordIdArg(std::string("fmt")).Value(), 0x20746D66);
    EXPECT_EQ(RecordIdArg(5).Value(), 5);
}

TEST(LastErrorCode, StartsAtZeroOnEveryThread) {
    LastErrorCode() = mfec_ReadDataFailed;
    MediaFileErrorCodes other = mfec_ReadDataFailed;
    std::thread([&] { other = LastErrorCode(); }).join();
    EXPECT_EQ(other, mfec_NoError);
    EXPECT_EQ(LastErrorCode(), mfec_ReadDataFailed);
    LastErrorCode() = mfec_NoError;
}

} // namespace
