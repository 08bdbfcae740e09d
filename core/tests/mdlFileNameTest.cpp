// SPDX-License-Identifier: MIT
#include "mdlFileName.h"

#include <gtest/gtest.h>

namespace metronel {
namespace {

// Every name comes back as its very bytes; valid UTF-8 decodes as Qt decodes it, and each
// byte that is not part of it stands alone, whatever comes before or after.
TEST(FileName, AnyBytesComeBackAsGiven) {
    struct Row {
        const char* name;
        QByteArray bytes;
        int escapes; // bytes kept as lone surrogates
    };
    const Row rows[] = {
        {"plain", "loop 1.wav", 0},
        {"accents and a four-byte character", "caf\xc3\xa9 \xf0\x9f\x92\xa9.wav", 0},
        {"a Latin-1 byte", "\xe9.wav", 1},
        {"two bytes no UTF-8 starts with", "\xff\xfe.wav", 2},
        {"a cut sequence before a valid one", "\xe2\x82\xc3\xa9", 2},
        {"an overlong slash",
         "a\xc0\xaf"
         "b",
         2},
        {"an encoded surrogate", "\xed\xb3\xa9.wav", 3},
        {"above U+10FFFF", "\xf4\x90\x80\x80", 4},
        {"a stray continuation after a pair", "\xf0\x9f\x92\xa9\xa9", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString name = NameFromNative(row.bytes);
        EXPECT_EQ(NativeName(name), row.bytes);
        int escapes = 0; // U+1F4A9's second half is U+DCA9: a pair is no escape
        for (qsizetype i = 0; i < name.size(); ++i)
            escapes += name[i].unicode() >= 0xDC80 && name[i].unicode() <= 0xDCFF &&
                       (i == 0 || !name[i - 1].isHighSurrogate());
        EXPECT_EQ(escapes, row.escapes);
        if (row.escapes == 0) { // as Qt decodes it
            EXPECT_EQ(name, QString::fromUtf8(row.bytes));
        }
    }
}

} // namespace
} // namespace metronel
