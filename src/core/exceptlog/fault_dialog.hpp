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
enum class TFaultRowImage { kExecutable, kPackage, kLibrary, kUnit };

struct TFaultDialogRow {
    TFaultRowImage Image = TFaultRowImage::kLibrary;
    // Address (8 hexadecimal digits), Module (file name), Unit, Class, Procedure/Method, Line.
    std::array<std::string, 6> Cells;
};

struct TFaultDialogData {
    std::string ShortMessage;
    // The first page: the report's sections without the call-stack table.
    std::string ReportSections;
    std::vector<TFaultDialogRow> Rows;
    std::string Caption;                      // text 2
    std::string Heading;                      // text 3, the expanded header
    std::string GeneralTab;                   // text 4
    std::string GeneralHeader;                // text 5
    std::string DetailsTab;                   // text 6
    std::string DetailsHeader;                // text 7
    std::string CloseText;                    // text 8
    std::string TerminateText;                // text 10 with a restart, else text 9
    std::string DetailsText;                  // text 11
    std::array<std::string, 6> ColumnTitles;  // texts 37 to 42
    bool TerminateVisible = false;
    bool RestartOnTerminate = true;
    bool StartsOnGeneral = true;
    bool CustomColors = true;
};

// The short message of a report: the message trimmed, or "Exception Object: " and the type when
// there is none, ended by a full stop.
std::string FaultShortMessage(std::string_view message, std::string_view type);

// The rows of the call-stack page: entries of kind 2, 3 or 4, without the kind-3 entries of an
// executable module.
std::vector<TFaultDialogRow> FaultDialogRows(const TFaultStackList& stack);

// Everything the dialog shows for one report; `errorCount` counts this report too.
TFaultDialogData MakeFaultDialogData(std::string shortMessage, std::string reportSections,
                                     const TFaultStackList& stack,
                                     const TFaultModuleOptions& options, int errorCount);

// The details button: text + " >>" while collapsed, "<< " + text while expanded.
std::string DetailsButtonText(std::string_view text, bool expanded);

struct TDialogRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const TDialogRect&) const = default;
};

// The window's decorations as the size rule counts them (all 0 where the toolkit sizes the
// window's inside only).
struct TDialogFrame {
    int FrameWidth = 0;
    int FrameHeight = 0;
    int SmallCaptionHeight = 0;
};

// The widest the short message may be before it wraps.
int CollapsedTextLimit(const TDialogFrame& frame);
// The collapsed window for a message measured (after wrapping) as textWidth by textHeight,
// centred on the screen.
TDialogRect CollapsedDialogRect(int textWidth, int textHeight, const TDialogFrame& frame,
                                const TDialogRect& screen);

// Section "Coordinates" of "FaultLog.ini".
struct TFaultDialogCoordinates {
    int Width = 640;
    int Height = 385;
    std::optional<int> Left;
    std::optional<int> Top;
    int WindowsState = 1;
    std::array<int, 6> Columns{80, 102, 105, 118, 138, 48};
};

// Values missing or unreadable keep their defaults.
TFaultDialogCoordinates ReadDialogCoordinates(std::string_view iniText);
// The file's text with the section replaced (added when missing); other sections stay.
std::string WriteDialogCoordinates(std::string_view iniText,
                                   const TFaultDialogCoordinates& coordinates);
// The expanded window: the stored size and place, centred when no place is stored, moved back
// onto the screen and never to a negative position.
TDialogRect PlaceExpandedDialog(const TFaultDialogCoordinates& coordinates,
                                const TDialogRect& screen);

// What became of a dialog.
enum class TFaultDialogResult { kClosed, kTerminate, kNotShown };

// Shows the dialog for one report; set by the window program's toolkit, none in a program
// without windows.
using TFaultDialogPresenter = std::function<TFaultDialogResult(const TFaultDialogData&)>;
void SetFaultDialogPresenter(TFaultDialogPresenter presenter);
TFaultDialogPresenter FaultDialogPresenter();

// Shows the dialog for one report through the presenter. When no window could be shown, the
// warning goes to stderr and the trace, and the message itself too unless a presenter ran and
// `echoOnlyWithoutPresenter` says that it has shown the message its own way. True when the user
// asked to end the program.
bool PresentFaultDialog(const TFaultDialogData& data, bool echoOnlyWithoutPresenter);

}  // namespace packmeter
