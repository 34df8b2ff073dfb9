#include "core/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace brindle {
namespace {

TEST(CodePoints, CountsCodePointsNotBytes) {
    EXPECT_EQ(code_points(""), 0u);
    EXPECT_EQ(code_points("h\xC3\xA9llo"), 5u);                 // héllo, 6 bytes
    EXPECT_EQ(code_points("\xF0\x9F\x98\x80"), 1u);             // one emoji, 4 bytes
    EXPECT_EQ(code_points("\xE5\x90\x8D\xE5\x89\x8D abcdefgh"), 11u);  // crosses a word
}

// The word-at-a-time count must agree with the byte-at-a-time definition at every
// length and alignment.
TEST(CodePoints, MatchesBytewiseDefinitionOnRandomUtf8) {
    std::mt19937 random(7);
    const std::string pieces[] = {"a", "\xC3\xA9", "\xE5\x90\x8D", "\xF0\x9F\x98\x80", " "};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        std::uint64_t expected = 0;
        int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) {
            text += pieces[random() % 5];
            ++expected;
        }
        for (std::size_t skip = 0; skip < 3 && skip <= text.size(); ++skip) {
            std::string_view view(text);
            view.remove_prefix(skip);
            std::uint64_t bytewise = 0;
            for (unsigned char c : view) bytewise += (c & 0xC0) != 0x80;
            ASSERT_EQ(code_points(view), bytewise);
        }
        ASSERT_EQ(code_points(text), expected);
    }
}

// Any byte from 0x80 up, at any position and alignment, makes the text non-ASCII.
TEST(IsAscii, FindsAHighByteAnywhere) {
    EXPECT_TRUE(is_ascii(""));
    std::string text(19, 'a');
    EXPECT_TRUE(is_ascii(text));
    for (std::size_t at = 0; at < text.size(); ++at) {
        for (unsigned char high : {0x80, 0xC3, 0xFF}) {
            std::string changed = text;
            changed[at] = static_cast<char>(high);
            for (std::size_t skip = 0; skip <= at; skip += 3) {
                ASSERT_FALSE(is_ascii(std::string_view(changed).substr(skip))) << at << " " << skip;
            }
            ASSERT_TRUE(is_ascii(std::string_view(changed).substr(at + 1)));
        }
    }
}

}  // namespace
}  // namespace brindle
