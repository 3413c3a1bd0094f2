#pragma once

// What the error dialog shows and how it is sized and placed, for both toolkits: the texts
// and rows of one report, the collapsed window's size rule, the expanded window's stored
// coordinates in "FaultLog.ini" and their placement on the screen.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exceptlog/report_text.hpp"

namespace packmeter {

// The 16 by 16 picture of a call-stack row.
enum class FaultRowImage { kExecutable, kPackage, kLibrary, kUnit };

struct FaultDialogRow {
    FaultRowImage image = FaultRowImage::kLibrary;
    // Address (8 hexadecimal digits), Module (file name), Unit, Class, Procedure/Method, Line.
    std::array<std::string, 6> cells;
};

struct FaultDialogData {
    std::string shortMessage;
    // The first page: the report's sections without the call-stack table.
    std::string reportSections;
    std::vector<FaultDialogRow> rows;
    std::string caption;                      // text 2
    std::string heading;                      // text 3, the expanded header
    std::string generalTab;                   // text 4
    std::string generalHeader;                // text 5
    std::string detailsTab;                   // text 6
    std::string detailsHeader;                // text 7
    std::string closeText;                    // text 8
    std::string terminateText;                // text 10 with a restart, else text 9
    std::string detailsText;                  // text 11
    std::array<std::string, 6> columnTitles;  // texts 37 to 42
    bool terminateVisible = false;
    bool restartOnTerminate = true;
    bool startsOnGeneral = true;
    bool customColors = true;
};

// The short message of a report: the message trimmed, or "Exception Object: " and the type when
// there is none, ended by a full stop.
std::string FaultShortMessage(std::string_view message, std::string_view type);

// The rows of the call-stack page: entries of kind 2, 3 or 4, without the kind-3 entries of an
// executable module.
std::vector<FaultDialogRow> FaultDialogRows(const TFaultStackList& stack);

// Everything the dialog shows for one report; `errorCount` counts this report too.
FaultDialogData MakeFaultDialogData(std::string shortMessage, std::string reportSections,
                                    const TFaultStackList& stack,
                                    const TFaultModuleOptions& options, int errorCount);

// The details button: text + " >>" while collapsed, "<< " + text while expanded.
std::string DetailsButtonText(std::string_view text, bool expanded);

struct DialogRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DialogRect&) const = default;
};

// The window's decorations as the size rule counts them (all 0 where the toolkit sizes the
// window's inside only).
struct DialogFrame {
    int frameWidth = 0;
    int frameHeight = 0;
    int smallCaptionHeight = 0;
};

// The widest the short message may be before it wraps.
int CollapsedTextLimit(const DialogFrame& frame);
// The collapsed window for a message measured (after wrapping) as textWidth by textHeight,
// centred on the screen.
DialogRect CollapsedDialogRect(int textWidth, int textHeight, const DialogFrame& frame,
                               const DialogRect& screen);

// Section "Coordinates" of "FaultLog.ini".
struct FaultDialogCoordinates {
    int width = 640;
    int height = 385;
    std::optional<int> left;
    std::optional<int> top;
    int windowsState = 1;
    std::array<int, 6> columns{80, 102, 105, 118, 138, 48};
};

// Values missing or unreadable keep their defaults.
FaultDialogCoordinates ReadDialogCoordinates(std::string_view iniText);
// The file's text with the section replaced (added when missing); other sections stay.
std::string WriteDialogCoordinates(std::string_view iniText,
                                   const FaultDialogCoordinates& coordinates);
// The expanded window: the stored size and place, centred when no place is stored, moved back
// onto the screen and never to a negative position.
DialogRect PlaceExpandedDialog(const FaultDialogCoordinates& coordinates, const DialogRect& screen);

// What became of a dialog.
enum class FaultDialogResult { kClosed, kTerminate, kNotShown };

}  // namespace packmeter
