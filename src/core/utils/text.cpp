#include "core/utils/text.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace packmeter {

namespace {

// The text split into code points (each a byte string), for shortening by characters.
std::vector<std::string_view> CodePoints(std::string_view text) {
    std::vector<std::string_view> points;
    while (!text.empty()) {
        std::size_t n = Utf8SequenceLength(text);
        if (n == 0) {
            n = 1;
        }
        points.push_back(text.substr(0, n));
        text.remove_prefix(n);
    }
    return points;
}

// The code point of a well-formed sequence of `n` bytes.
char32_t DecodeUtf8(std::string_view s, std::size_t n) {
    const auto byte = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<std::uint8_t>(s[i]));
    };
    switch (n) {
        case 1:
            return byte(0);
        case 2:
            return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3:
            return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

// Characters that move the cursor, start terminal commands, reorder the text around them or
// break the line: shown as escapes instead.
bool HidesOrControls(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string Join(const std::vector<std::string_view>& points, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        out += points[i];
    }
    return out;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < s.size() && (byte(i) & 0xC0) == 0x80;
    };
    const std::uint8_t b0 = byte(0);
    if (b0 < 0x80) {
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        return continuation(1) ? 2 : 0;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!continuation(1) || !continuation(2)) {
            return 0;
        }
        const std::uint8_t b1 = byte(1);
        if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 > 0x9F)) {
            return 0;  // overlong form or UTF-16 surrogate
        }
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) {
            return 0;
        }
        const std::uint8_t b1 = byte(1);
        if ((b0 == 0xF0 && b1 < 0x90) || (b0 == 0xF4 && b1 > 0x8F)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

std::string IncludeTrailingChar(std::string text, char ch) {
    if (!text.empty() && text.back() != ch) {
        text += ch;
    }
    return text;
}

std::string ShortenText(std::string_view text, const TextMeasure& canvas, int maxWidth) {
    if (canvas.TextWidth(text) < maxWidth) {
        return std::string(text);
    }
    const auto points = CodePoints(text);
    const std::size_t tailStart = points.size() > 6 ? points.size() - 6 : 0;
    const std::string tail = Join(points, tailStart, points.size());
    std::size_t headLength = tailStart;
    const int fixed = canvas.TextWidth("...") + canvas.TextWidth(tail);
    while (headLength > 2 && canvas.TextWidth(Join(points, 0, headLength)) + fixed >= maxWidth) {
        --headLength;
    }
    return Join(points, 0, headLength) + "..." + tail;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = Utf8SequenceLength(bytes);
        if (n == 0) {
            return false;
        }
        bytes.remove_prefix(n);
    }
    return true;
}

std::string ToDisplayText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t n = Utf8SequenceLength(bytes);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            bytes.remove_prefix(1);
        } else {
            out += bytes.substr(0, n);
            bytes.remove_prefix(n);
        }
    }
    return out;
}

std::string ToSafeDisplayText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    char escape[8];
    while (!bytes.empty()) {
        const std::size_t n = Utf8SequenceLength(bytes);
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<std::uint8_t>(bytes[0]));
            out += escape;
            bytes.remove_prefix(1);
            continue;
        }
        const char32_t c = DecodeUtf8(bytes, n);
        if (HidesOrControls(c)) {
            std::snprintf(escape, sizeof escape, c < 0x80 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(c));
            out += escape;
        } else {
            out += bytes.substr(0, n);
        }
        bytes.remove_prefix(n);
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

int CompareIgnoringCase(std::string_view a, std::string_view b) {
    const auto upper = [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : code;
    };
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = upper(a[i]) - upper(b[i]);
        if (difference != 0) {
            return difference;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

}  // namespace packmeter
