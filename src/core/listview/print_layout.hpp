#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/listview/report_list.hpp"

namespace packmeter {

// Every length here is in tenths of a millimetre on the printable area of a page: x from its
// left edge, y downward from its top edge. List column widths are screen pixels; one pixel
// prints as 3 units.

// The printed fonts are all of the face "Arial"; `height` is the character height.
struct PrintFont {
    bool bold = false;
    int height = 0;
    bool operator==(const PrintFont&) const = default;
};

struct PrintPage {
    int width = 0;
    int height = 0;
};

enum class PrintOpKind {
    kText,     // `text` in `font` with its top at y, placed on x by `anchor`
    kLine,     // a horizontal line from (x, y) to (x2, y)
    kNewPage,  // ends the page and starts the next
};

enum class TextAnchor {
    kLeft,    // x is the text's left end
    kRight,   // x is the text's right end
    kCentre,  // x is the text's middle
};

struct PrintOp {
    PrintOpKind kind = PrintOpKind::kText;
    int x = 0;
    int y = 0;
    int x2 = 0;
    std::string text;
    TextAnchor anchor = TextAnchor::kLeft;
    PrintFont font;
    bool operator==(const PrintOp&) const = default;
};

struct PrintSettings {
    std::string header;
    int fontHeight = 34;
};

using PrintTextWidth = std::function<int(std::string_view text, const PrintFont& font)>;

// Lays `list` out on pages of `page`: the title on the first page, column headings with a rule
// under them on every page, one line per row, and a foot ("Page n" and `dateTime`) on every
// page. Columns narrower than 6 pixels are left out; texts too wide for their column are
// shortened by ShortenText as `width` measures them; a cell whose text begins with a digit is
// aligned right.
std::vector<PrintOp> PrintLayout(const ReportList& list, const PrintSettings& settings,
                                 const PrintPage& page, const PrintTextWidth& width,
                                 const std::string& dateTime);

}  // namespace packmeter
