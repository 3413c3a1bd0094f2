#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace packmeter {

// The main window's commands, in the order of their images.
enum class MenuCommand {
    kExit,
    kScan,
    kRefresh,
    kPrint,
    kCopy,
    kReadme,
    kAbout,
};
inline constexpr std::size_t kMenuCommandCount = 7;

struct MenuCommandSetup {
    MenuCommand command;
    const char* caption;
    // The hint: one text, or a short and a long form separated by "|".
    const char* hint;
    // The image's standard name in the desktop's icon theme.
    const char* themeIcon;
};

// Indexed by MenuCommand, which is also the command's image index.
inline constexpr std::array<MenuCommandSetup, kMenuCommandCount> kMenuCommands = {{
    {MenuCommand::kExit, "E&xit", "Exit|Quits the application", "application-exit"},
    {MenuCommand::kScan, "&Scan...",
     "Select Folder for which the compression ratio should be calculated.", "folder-open"},
    {MenuCommand::kRefresh, "&Refresh", "Refresh data of current folder", "view-refresh"},
    {MenuCommand::kPrint, "&Print List", "Print the contents of this list", "document-print"},
    {MenuCommand::kCopy, "&Copy List to Clipboard", "Copy the list Content to the Clipboard",
     "edit-copy"},
    {MenuCommand::kReadme, "&Readme.txt", "Opens the Readme file", "text-x-generic"},
    {MenuCommand::kAbout, "&About", "Shows information about copyright and version number",
     "help-about"},
}};

constexpr const MenuCommandSetup& CommandSetup(MenuCommand command) {
    return kMenuCommands[static_cast<std::size_t>(command)];
}

inline constexpr MenuCommand kSeparator = static_cast<MenuCommand>(-1);

struct MenuSetup {
    const char* caption;
    std::vector<MenuCommand> entries;  // kSeparator: a separator line
};

// The menus of the menu bar in their order.
const std::vector<MenuSetup>& MenuBarLayout();

// The desktop key that does what the command does, shown beside its caption in the menu (the
// commands keep no shortcut of their own): F5 for Refresh, and Ctrl+Q for Exit where that is the
// desktop's habit (`quitKey`). Empty for the others.
std::string_view MenuKeyText(MenuCommand command, bool quitKey);
// The caption as a menu entry shows it: the caption, then a tab and the key text when there is
// one.
std::string MenuEntryText(MenuCommand command, bool quitKey);

// The short form of a hint (before "|"), or the whole hint when it has one form.
std::string_view ShortHint(std::string_view hint);
// The long form of a hint (after "|"), or the whole hint when it has one form: what the status
// line shows while the entry is highlighted.
std::string_view LongHint(std::string_view hint);

// A 16 × 16 picture of each command, for desktops whose icon theme lacks the standard image:
// one character per pixel, '.' transparent, other letters colours of kPictureColours.
using CommandPicture = std::array<const char*, 16>;
const CommandPicture& FallbackPicture(MenuCommand command);

struct PictureColour {
    char key;
    unsigned char red, green, blue;
};
const std::vector<PictureColour>& PictureColours();

// Where the window looks for its readme, in order: beside the executable in `programFolder`,
// then, for a program installed under a prefix's bin folder, in share/doc/packmeter of that
// prefix. Only the first is used on Windows.
std::vector<std::string> ReadmeCandidates(const std::string& programFolder, bool installedLayout);

inline constexpr const char* kReadmeFileName = "Readme.txt";
inline constexpr const char* kReadmeMissingText =
    "The readme (Readme.txt) is not installed beside the program.";

// The items of the rows' and the path label's context menu beside "&COMPRESS": compressing
// with a chosen algorithm and threshold, and the forecast of what compressing would save.
inline constexpr const char* kCompressWithCaption = "Compress &with...";
inline constexpr const char* kEstimateCaption = "&Estimate saving...";

// More rows than this are opened only after the user has said yes: each starts a program.
inline constexpr std::size_t kOpenWithoutAsking = 10;
// The question asked before `count` entries are opened at once.
inline std::string OpenManyQuestion(std::size_t count) {
    return "Open " + std::to_string(count) +
           " entries? Each one starts its program, which may take a while.";
}

}  // namespace packmeter
