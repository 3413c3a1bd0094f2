#include "core/app/main_form_layout.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

namespace packmeter {

std::array<int, kHeaderLabelCount> HeaderLabelLefts(
    const std::array<int, kHeaderLabelCount>& widths, const Scale& scale) {
    std::array<int, kHeaderLabelCount> lefts{};
    int lineEnd = 0;
    int lineY = -1;
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        const HeaderLabelSetup& setup = kHeaderLabels[i];
        if (setup.y != lineY) {
            lineY = setup.y;
            lineEnd = 0;
        }
        lefts[i] = std::max(scale(setup.x), lineEnd == 0 ? 0 : lineEnd + scale(kHeaderLabelGap));
        lineEnd = lefts[i] + widths[i];
    }
    return lefts;
}

double FontFactor(double fontPoints) {
    return std::max(1.0, fontPoints / kFormFontPoints);
}

int ListColumnWidth(std::size_t column, const TextMeasure& font, int cellMargins,
                    const TextMeasure& header, int arrowSpace, const Scale& scale) {
    const ListColumnSetup& setup = kListColumns.at(column);
    const std::string_view longest = setup.longest;
    int width =
        std::max(scale(setup.width), header.TextWidth(kColumnCaptions.at(column)) + arrowSpace);
    if (!longest.empty()) {
        width = std::max(width, font.TextWidth(longest) + cellMargins);
    }
    return width;
}

int NameColumnWidth(int available, int others, int least) {
    return std::max(least, available - others);
}

namespace {

// Where the code points of a UTF-8 text begin (invalid bytes count one each).
std::vector<std::size_t> CodePointStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size();) {
        starts.push_back(i);
        const std::size_t length = Utf8SequenceLength(text.substr(i));
        i += length == 0 ? 1 : length;
    }
    return starts;
}

// The code point of the well-formed sequence at the start of `text`.
char32_t CodePoint(std::string_view text, std::size_t length) {
    const auto byte = [&](std::size_t i) { return char32_t(static_cast<unsigned char>(text[i])); };
    switch (length) {
        case 1:
            return byte(0);
        case 2:
            return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3:
            return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default:
            return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 |
                   (byte(3) & 0x3F);
    }
}

}  // namespace

std::string ElideMiddle(std::string_view text, const TextMeasure& font, int maxWidth) {
    if (font.TextWidth(text) <= maxWidth) {
        return std::string(text);
    }
    static constexpr std::string_view kEllipsis = "\u2026";
    const std::vector<std::size_t> starts = CodePointStarts(text);
    const std::size_t count = starts.size();
    const auto shortened = [&](std::size_t kept) {
        // Keeps `kept` code points, the larger half at the end, where the folder's name is.
        const std::size_t head = kept / 2;
        const std::size_t tail = kept - head;
        const std::size_t headEnd = head < count ? starts[head] : text.size();
        const std::size_t tailBegin = tail == 0 ? text.size() : starts[count - tail];
        return std::string(text.substr(0, headEnd)) + std::string(kEllipsis) +
               std::string(text.substr(tailBegin));
    };
    std::size_t low = 0;
    std::size_t high = count - 1;
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        if (font.TextWidth(shortened(mid)) <= maxWidth) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return shortened(low);
}

namespace {

// The text's beginning with "…" after it, as much of it as fits in `maxWidth`.
std::string ElideEnd(std::string_view text, const TextMeasure& font, int maxWidth) {
    static constexpr std::string_view kEllipsis = "\u2026";
    if (font.TextWidth(text) <= maxWidth) {
        return std::string(text);
    }
    const std::vector<std::size_t> starts = CodePointStarts(text);
    std::size_t low = 0;
    std::size_t high = starts.size() - 1;
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        if (font.TextWidth(std::string(text.substr(0, starts[mid])) + std::string(kEllipsis)) <=
            maxWidth) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return std::string(text.substr(0, starts[low])) + std::string(kEllipsis);
}

// Where a path starts in `text` (a root separator, or a drive letter and its separator), or npos.
std::size_t PathStart(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool atWord = i == 0 || text[i - 1] == ' ';
        if (atWord && text[i] == kPathSeparator) {
            return i;
        }
        if (atWord && i + 2 < text.size() && text[i + 1] == ':' && text[i + 2] == kPathSeparator) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::string ShortenStatus(std::string_view text, const TextMeasure& font, int maxWidth) {
    if (font.TextWidth(text) <= maxWidth) {
        return std::string(text);
    }
    // The outcome at the end ("... Finished", " — 12 entries in 0.3 s — 2 unreadable") is what
    // the user reads the line for: it stays whole while the part before it gives way.
    static constexpr std::string_view kCommandTail = " ... ";
    static constexpr std::string_view kSentenceTail = " \u2014 ";
    std::size_t split = text.find(kCommandTail);
    if (split == std::string_view::npos) {
        split = text.find(kSentenceTail);
    }
    if (split == std::string_view::npos) {
        split = text.size();
    }
    const std::string_view head = text.substr(0, split);
    const std::string_view tail = text.substr(split);
    const int room = maxWidth - font.TextWidth(tail);
    const std::size_t path = PathStart(head);
    const std::string_view lead = path == std::string_view::npos ? head : head.substr(0, path);
    if (path != std::string_view::npos && room - font.TextWidth(lead) > 0) {
        // A path keeps its root and its last folder, shortened in the middle.
        return std::string(lead) +
               ElideMiddle(head.substr(path), font, room - font.TextWidth(lead)) +
               std::string(tail);
    }
    if (path == std::string_view::npos && !head.empty() && room > 0) {
        const std::string shortHead = ElideEnd(head, font, room);
        if (font.TextWidth(shortHead) <= room && shortHead.size() > 3) {
            return shortHead + std::string(tail);
        }
    }
    // Too narrow for the outcome beside anything else: the outcome alone, from its beginning
    // (the count first), shortened at its end.
    std::string_view outcome = tail;
    for (const std::string_view separator : {kCommandTail, kSentenceTail}) {
        if (outcome.starts_with(separator)) {
            outcome.remove_prefix(separator.size());
        }
    }
    return ElideEnd(outcome.empty() ? text : outcome, font, maxWidth);
}

bool ClassicFaceDraws(std::string_view text) {
    // The characters of code page 1252 above 0x7F that are not Latin-1 ones.
    static constexpr char32_t kExtra[] = {0x20AC, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x017D, 0x2018,
                                          0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC,
                                          0x2122, 0x0161, 0x203A, 0x0153, 0x017E, 0x0178};
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            return false;
        }
        const char32_t c = CodePoint(text.substr(i), length);
        if (c >= 0x100 && std::find(std::begin(kExtra), std::end(kExtra), c) == std::end(kExtra)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace packmeter
