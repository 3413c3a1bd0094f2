#include "core/utils/text.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packmeter {

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is not one.
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

std::string Join(const std::vector<std::string_view>& points, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        out += points[i];
    }
    return out;
}

}  // namespace

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

}  // namespace packmeter
