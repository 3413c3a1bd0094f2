#include "core/utils/text.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

// Every code point 10 units wide.
class FixedWidth : public TextMeasure {
  public:
    int TextWidth(std::string_view text) const override {
        int points = 0;
        for (const char c : text) {
            points += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }
        return points * 10;
    }
};

TEST(IncludeTrailingChar, AppendsOnlyWhenMissing) {
    EXPECT_EQ(IncludeTrailingChar("C:", '\\'), "C:\\");
    EXPECT_EQ(IncludeTrailingChar("C:\\", '\\'), "C:\\");
    EXPECT_EQ(IncludeTrailingChar("", '\\'), "");
    EXPECT_EQ(IncludeTrailingChar("/home"), std::string("/home") + kPathSeparator);
}

TEST(ShortenText, KeepsTheHeadAndTheLastSixCharacters) {
    const FixedWidth canvas;
    EXPECT_EQ(ShortenText("short", canvas, 51), "short");
    // Exactly as wide as the limit does not fit.
    EXPECT_EQ(ShortenText("short", canvas, 50), "...short");
    EXPECT_EQ(ShortenText("abcdef", canvas, 10), "...abcdef");
    EXPECT_EQ(ShortenText("a-very-long-file-name.txt", canvas, 150), "a-ver...me.txt");
    // At least two characters of the head stay, even when it is still too wide.
    EXPECT_EQ(ShortenText("a-very-long-file-name.txt", canvas, 20), "a-...me.txt");
    // Characters, not bytes: a Greek name is cut between letters.
    EXPECT_EQ(ShortenText("\xce\xb1\xce\xb2\xce\xb3\xce\xb4-report.pdf", canvas, 130),
              "\xce\xb1\xce\xb2\xce\xb3...rt.pdf");
}

TEST(ToDisplayText, ReplacesEveryMalformedByte) {
    EXPECT_EQ(ToDisplayText("plain"), "plain");
    EXPECT_EQ(ToDisplayText("\xe6\xbc\xa2\xe5\xad\x97"), "\xe6\xbc\xa2\xe5\xad\x97");
    EXPECT_EQ(ToDisplayText("a\xff"
                            "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ToDisplayText("\xe6\xbc"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // cut short
    EXPECT_EQ(ToDisplayText("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong
    EXPECT_EQ(ToDisplayText("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(ToDisplayText("\xf0\x9f\x98\x80"), "\xf0\x9f\x98\x80");
}

TEST(ToSafeDisplayText, ShowsWhatCouldDriveATerminalAsEscapes) {
    const struct {
        std::string_view bytes;
        std::string_view shown;
    } cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"\xe6\xbc\xa2\xf0\x9f\x98\x80 \xc3\xa9", "\xe6\xbc\xa2\xf0\x9f\x98\x80 \xc3\xa9"},
        {"esc\x1b]0;title\x07", "esc\\x1b]0;title\\x07"},
        {"tab\tline\ncr\r", "tab\\x09line\\x0acr\\x0d"},
        {std::string_view("nul\0", 4), "nul\\x00"},
        {"del\x7f", "del\\x7f"},
        {"c1 csi\xc2\x9b", "c1 csi\\u009b"},        // C1 control as UTF-8
        {"\xe2\x80\xaetxt.exe", "\\u202etxt.exe"},  // right-to-left override
        {"line\xe2\x80\xa8sep", "line\\u2028sep"},  // line separator
        {"isolate\xe2\x81\xa6", "isolate\\u2066"},  // bidirectional isolate
        {"a\xff", "a\\xff"},                        // not UTF-8: the byte itself
        {"a\xfe", "a\\xfe"},                        // ... so names stay distinct
        {"\xe6\xbc", "\\xe6\\xbc"},                 // cut short
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},        // surrogate
        {"back\\slash", "back\\slash"},             // shown as it is
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToSafeDisplayText(c.bytes), c.shown) << c.shown;
        EXPECT_EQ(IsValidUtf8(c.bytes), ToDisplayText(c.bytes) == c.bytes) << c.shown;
    }
}

}  // namespace
}  // namespace packmeter
