#pragma once

#include <string>
#include <string_view>

namespace packmeter {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The text ending in `ch`; an empty text stays empty.
std::string IncludeTrailingChar(std::string text, char ch = kPathSeparator);

// Measures the width of a text on some drawing surface (screen, printer page).
class TextMeasure {
  public:
    virtual ~TextMeasure() = default;
    virtual int TextWidth(std::string_view text) const = 0;
};

// The text unchanged when it is narrower than `maxWidth`; otherwise its head shortened (to no
// fewer than 2 characters) + "..." + its last 6 characters. Characters are UTF-8 code points.
std::string ShortenText(std::string_view text, const TextMeasure& canvas, int maxWidth);

// The bytes as valid UTF-8: every byte that does not begin a well-formed sequence becomes
// U+FFFD. Names keep their raw bytes for file-system calls; this is only for display.
std::string ToDisplayText(std::string_view bytes);

}  // namespace packmeter
