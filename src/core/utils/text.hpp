#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace packmeter {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The text ending in `ch`; an empty text stays empty.
std::string IncludeTrailingChar(std::string text, char ch = kPathSeparator);

// The text with the ASCII letters A-Z in lower case; every other byte stays.
std::string AsciiLower(std::string_view text);

// Compares two texts with the ASCII letters taken in upper case, byte by byte, a shorter text
// first where one begins the other: < 0, 0 or > 0. Bytes outside ASCII compare as they are.
int CompareIgnoringCase(std::string_view a, std::string_view b);
inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

// The lines of a text, each ended by CR LF, LF or CR; a final line end starts no further line.
std::vector<std::string_view> SplitLines(std::string_view text);

// Measures the width of a text on some drawing surface (screen, printer page).
class TextMeasure {
  public:
    virtual ~TextMeasure() = default;
    virtual int TextWidth(std::string_view text) const = 0;
};

// The text unchanged when it is narrower than `maxWidth`; otherwise its head shortened (to no
// fewer than 2 characters) + "..." + its last 6 characters. Characters are UTF-8 code points.
std::string ShortenText(std::string_view text, const TextMeasure& canvas, int maxWidth);

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view s);

// Appends the code point `c` (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// Whether the bytes are well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view bytes);

// The bytes as valid UTF-8: every byte that does not begin a well-formed sequence becomes
// U+FFFD. Names keep their raw bytes for file-system calls; this is only for display.
std::string ToDisplayText(std::string_view bytes);

// The bytes as text that a terminal or a status line shows without being driven by it: like
// ToDisplayText, but control characters (C0, DEL and C1), the bidirectional formatting marks and
// the line and paragraph separators appear as escapes ("\x1b", "\u009b", "\u202e"), and a byte
// that does not begin well-formed UTF-8 as "\xff", so that different names stay different.
std::string ToSafeDisplayText(std::string_view bytes);

}  // namespace packmeter
