#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string_view>

#include "core/app/list_columns.hpp"
#include "core/utils/text.hpp"
#include "core/utils/version.hpp"

namespace packmeter {

// The main window's layout and texts, shared by every toolkit's window. Sizes are pixels at
// 96 dots per inch; each window scales them to its screen.

inline constexpr int kClientWidth = 410;
inline constexpr int kClientHeight = 453;
inline constexpr int kHeaderHeight = 49;
// The least client height: the header, the list's column header and a few rows, the status line.
inline constexpr int kLeastClientHeight = 160;
inline constexpr int kStatusHeight = 19;
inline constexpr int kFormFontPoints = 8;
// Space kept between two header labels that a wider font pushes together.
inline constexpr int kHeaderLabelGap = 3;

inline constexpr std::chrono::milliseconds kStatusInterval{1500};
// The least time between two batches of scan output: each batch lays the list out anew, so
// fewer, larger batches keep a scan of many entries fast while rows still appear as they come.
inline constexpr std::chrono::milliseconds kApplyInterval{40};
// The most time one batch spends turning scan output into rows: what is left waits for the
// next turn of the event loop, so that a busy machine never keeps the window from drawing
// and answering for long.
inline constexpr std::chrono::milliseconds kApplyBudget{12};
// The pause before the rest of a batch cut short by the budget: paints and input go first.
inline constexpr std::chrono::milliseconds kApplyRestPause{1};

inline constexpr const char* kCalculatingText = "Calculating ...";
inline constexpr const char* kNoFolderText =
    "No folder chosen: choose one with Scan... in the File menu.";
inline constexpr const char* kStoppedText = "Scan stopped: the totals are not known.";
// What the row colours mean, for the Name column's tool tip and the status bar's.
inline constexpr const char* kColourLegend =
    "Plain text: not compressed. Navy: a folder with some compressed contents (partly "
    "compressed). Blue: compressed. Grey: could not be read completely.";
inline constexpr const char* kBrowseTitle =
    "Please select a folder for which the compression rate should be calculated.";

inline constexpr const char* kFileMenuText = "&File";
inline constexpr const char* kScanActionText = "&Scan...";
inline constexpr const char* kRefreshActionText = "&Refresh";
inline constexpr const char* kExitActionText = "E&xit";

// The labels of the header, in the order they are laid out.
enum class HeaderLabel {
    kPathTitle,
    kPath,
    kSizeTitle,
    kSize,
    kCompressedTitle,
    kCompressed,
    kRatioTitle,
    kRatio,
};
inline constexpr std::size_t kHeaderLabelCount = 8;

struct HeaderLabelSetup {
    HeaderLabel label;
    const char* name;  // the label's name in the form description
    const char* text;  // its text until the window sets another
    int x;
    int y;
    bool bold;
};

inline constexpr std::array<HeaderLabelSetup, kHeaderLabelCount> kHeaderLabels = {{
    {HeaderLabel::kPathTitle, "Label1", "Path:", 8, 7, true},
    {HeaderLabel::kPath, "PathLabel", "", 40, 7, false},
    {HeaderLabel::kSizeTitle, "Label2", "Size:", 8, 27, true},
    {HeaderLabel::kSize, "SizeLabel", kCalculatingText, 40, 27, false},
    {HeaderLabel::kCompressedTitle, "Label4", "Compressed:", 117, 27, true},
    {HeaderLabel::kCompressed, "CompressedLabel", kCalculatingText, 193, 27, false},
    {HeaderLabel::kRatioTitle, "Label5", "Ratio:", 275, 27, true},
    {HeaderLabel::kRatio, "RatioLabel", "", 315, 27, false},
}};

// The table is indexed by the labels' values.
constexpr bool HeaderLabelsInOrder() {
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        if (static_cast<std::size_t>(kHeaderLabels[i].label) != i) {
            return false;
        }
    }
    return true;
}
static_assert(HeaderLabelsInOrder());

// Scales a length at 96 dots per inch to the window's screen.
using Scale = std::function<int(int)>;

// How much larger than the form's 8-point font the window's font is: the layout's positions
// and sizes grow with it (never shrink), as they do with the screen's dots per inch.
double FontFactor(double fontPoints);

// Where each header label goes (left edges, in the order of kHeaderLabels) for the labels'
// widths as drawn: at its own place, moved right only where a wider font would make it
// overlap the label before it on the same line.
std::array<int, kHeaderLabelCount> HeaderLabelLefts(
    const std::array<int, kHeaderLabelCount>& widths, const Scale& scale);

struct ListColumnSetup {
    int width;  // the least width
    bool alignRight;
    const char* longest;  // the longest text the column usually shows; it always fits
};

// The list's columns, in the order of kColumnCaptions.
inline constexpr std::array<ListColumnSetup, kColumnCaptions.size()> kListColumns = {{
    {170, false, ""},
    {70, true, "9999 KB"},
    {70, true, "9999 KB"},
    {40, true, "100 %"},
}};

// The width of list column `column`: its least width scaled, or more where its longest text,
// measured in the list's font, and `cellMargins` (the space a cell keeps beside its text)
// would not fit, or where its caption with the sort arrow (`arrowSpace`: the arrow, the gap
// before it and the header's margins) would not fit in `header`'s font.
int ListColumnWidth(std::size_t column, const TextMeasure& font, int cellMargins,
                    const TextMeasure& header, int arrowSpace, const Scale& scale);

// The Name column's width when the list is `available` pixels wide inside and the other
// columns are `others` wide together: the width the window gains goes to the names.
int NameColumnWidth(int available, int others, int least);

// The text unchanged when it fits in `maxWidth`; otherwise its beginning and its end with "…"
// between, as much of both as fits (so a path keeps its drive or root and its last folder).
std::string ElideMiddle(std::string_view text, const TextMeasure& font, int maxWidth);

// The status line's text for `maxWidth`. The outcome at its end (after " ... " or the first
// " — ") stays whole; before it, a path (the folder being walked or switched) is shortened in
// the middle, which keeps its root and its last folder, and other text at its end. When the
// outcome does not fit beside it, the outcome alone is shown, shortened at its end. The window
// shows the whole text in a tool tip.
std::string ShortenStatus(std::string_view text, const TextMeasure& font, int maxWidth);

// Whether the window's classic 8-point face draws every character of the UTF-8 text: it has
// the Western European characters only (code page 1252), and other scripts need the system's
// message font, which links in faces for them.
bool ClassicFaceDraws(std::string_view text);

}  // namespace packmeter
