#include "common/Win1252.h"

#include <gtest/gtest.h>

namespace quelvo {
namespace {

TEST(Win1252, DecodesEveryByteAndEncodesItBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string utf8 = Win1252ToUtf8(all);
    EXPECT_EQ(Utf8ToWin1252(utf8), all);
}

TEST(Win1252, KnownCharacters) {
    struct Case {
        const char* cp1252;
        const char* utf8;
    };
    const Case cases[] = {
        {"Conceic\xe3o", "Conceic\xc3\xa3o"},
        {"\x80", "\xe2\x82\xac"},                    // euro sign
        {"\x93x\x94", "\xe2\x80\x9cx\xe2\x80\x9d"},  // curly quotes
        {"\x9f", "\xc5\xb8"},                        // Y with diaeresis
        {"\xe7\xc7", "\xc3\xa7\xc3\x87"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Win1252ToUtf8(c.cp1252), c.utf8);
        EXPECT_EQ(Utf8ToWin1252(c.utf8), c.cp1252);
    }
}

TEST(Win1252, UnmappableAndMalformedBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToWin1252("a\xe2\x98\x83z"), "a?z");  // snowman
    EXPECT_EQ(Utf8ToWin1252("\xf0\x9f\x98\x80"), "?");  // emoji, one character
    EXPECT_EQ(Utf8ToWin1252("\xce\xa9"), "?");          // Greek omega
    EXPECT_EQ(Utf8ToWin1252("a\xc3"), "a?");            // cut sequence
    EXPECT_EQ(Utf8ToWin1252("\xff"
                            "b"),
              "?b");                             // invalid lead byte
    EXPECT_EQ(Utf8ToWin1252("\xc0\xaf"), "??");  // overlong form
    EXPECT_EQ(Utf8ToWin1252(""), "");
}

}  // namespace
}  // namespace quelvo
