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

struct Replacement {
    const char* name;
    std::string input;
    std::string expected;
};

class ReplaceIllFormed : public testing::TestWithParam<Replacement> {};

TEST_P(ReplaceIllFormed, SubstitutesMaximalSubparts) {
    EXPECT_EQ(std::string_view(replace_ill_formed_utf8(GetParam().input)), GetParam().expected);
}

const std::string kFffd = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Table, ReplaceIllFormed,
    testing::Values(
        Replacement{"WellFormedUnchanged", "h\xC3\xA9llo \xF0\x9F\x98\x80", "h\xC3\xA9llo \xF0\x9F\x98\x80"},
        Replacement{"LoneSurrogateIsThree", "a\xED\xA0\x80z", "a" + kFffd + kFffd + kFffd + "z"},
        Replacement{"TruncatedSequenceIsOne", "\xE5\x90", kFffd},
        Replacement{"TruncatedThenAscii", "\xF0\x9F\x98x", kFffd + "x"},
        Replacement{"StrayContinuation", "\x80\xBF", kFffd + kFffd},
        Replacement{"OverlongLead", "\xC0\xAF", kFffd + kFffd},
        Replacement{"BeyondUnicode", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
        Replacement{"InvalidLead", "\xFF", kFffd}),
    [](const testing::TestParamInfo<Replacement>& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace brindle
