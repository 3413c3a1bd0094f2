#pragma once

// How far a compression command has come and the texts of its status line, shared by the
// window's commands and the command-line tool.

#include <cstdint>
#include <string>

#include "core/utils/size_text.hpp"

namespace packmeter {

// The status line of a command: the prefix, the entry's path, " ... ", and at the end
// "Finished" (or the cancelled text).
inline constexpr const char* kCompressingText = "Compressing ";
inline constexpr const char* kDecompressingText = "Decompressing ";
inline constexpr const char* kEllipsisText = " ... ";
inline constexpr const char* kFinishedText = "Finished";
inline constexpr const char* kCancelledText = "Cancelled";
// Shown when a command is chosen while another one runs.
inline constexpr const char* kCommandBusyText =
    "A compression command is already running. Wait for it to finish, or cancel it first.";
// Asked when the window is closed while a command runs.
inline constexpr const char* kCloseWhileRunningText =
    "A compression command is running. Stop it after the current file and close the window?";

// What "Finished" is followed by when `count` entries inside trees could not be switched:
// " — 3 entries could not be switched".
std::string FailedEntriesText(std::int64_t count, const NumberFormat& format = {});
// What "Finished" is followed by when a threshold left `count` files plain:
// " — 3 files left alone (would save too little)".
std::string LeftAloneText(std::int64_t count, const NumberFormat& format = {});

// How far a command has come. Entries are the files and folders it switches; bytes are the
// logical sizes of the files. The totals come from a quick count made before the first switch
// (`counting` while it runs, the totals then growing).
struct CommandProgress {
    bool running = false;
    bool decompress = false;
    bool counting = false;
    // An estimate, which reads and changes nothing: only its bytes count.
    bool estimating = false;
    std::int64_t entriesDone = 0;
    std::int64_t entriesTotal = 0;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
    // The entry being switched now (a file or folder inside a selected tree, too).
    std::string currentPath;

    // Whole percent of the bytes done (of the entries when no file holds any bytes), 0..100.
    int Percent() const;
    // "1,234 of 5,678 entries, 12.5 MB of 40.0 MB" for a progress label; an estimate's:
    // "12.5 MB of 40.0 MB read".
    std::string Text(const NumberFormat& format = {}) const;
};

}  // namespace packmeter
