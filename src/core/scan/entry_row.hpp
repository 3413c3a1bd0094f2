#pragma once

#include <cstdint>
#include <string>

#include "core/utils/size_text.hpp"

namespace packmeter {

// Compression states of a row (the state value masked with kStateMask) and the folder flag.
inline constexpr int kStatePlain = 0;
inline constexpr int kStatePartly = 1;
inline constexpr int kStateCompressed = 2;
inline constexpr int kStateMask = 3;
inline constexpr int kFolderFlag = 4;

// What a row stands for beyond file or folder: links, mount points and special files (devices,
// pipes, sockets) are shown with 0 bytes and never entered.
enum class EntryKind { kPlain, kLink, kMount, kSpecial };

// One row of the list: an entry directly inside the scanned folder.
struct EntryRow {
    std::string name;        // raw bytes, for file-system calls
    std::string caption;     // the name as valid UTF-8, for display
    std::string sizeText;    // column "Size"
    std::string onDiskText;  // column "Compresed", in the unit of the size text
    std::string ratioText;   // column "Ratio": whole percent followed by " %"
    int iconIndex = -1;
    int state = kStatePlain;  // compression state + kFolderFlag for folders
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    std::int64_t ratioPercent = 0;
    EntryKind kind = EntryKind::kPlain;
    // Entries of this row's tree (the entry itself included) that could not be read; the sizes
    // leave them out.
    std::int64_t unreadable = 0;

    bool IsFolder() const { return (state & kFolderFlag) != 0; }
    int CompressionState() const { return state & kStateMask; }
};

// Saving in whole percent, (logical - onDisk) / logical, rounded half to even; 0 when empty.
std::int64_t RatioPercent(std::int64_t logical, std::int64_t onDisk);

// The state value: 2 when flagged (compressed or sparse), else 1 when the data takes less
// room than its size, else 0; plus 4 for a folder.
int RowState(bool isFolder, bool flagged, std::int64_t logical, std::int64_t onDisk);

// The row for an entry with the given sizes, texts from FormatSizePair.
EntryRow MakeEntryRow(std::string name, int iconIndex, bool isFolder, bool flagged,
                      std::int64_t ratioPercent, std::int64_t onDisk, std::int64_t logical);

// The folder totals shown above the list.
struct ScanTotals {
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    std::int64_t ratioPercent = 0;
    std::string sizeText;         // FormatSize with 0 decimals
    std::string onDiskText;       // FormatSize with 0 decimals
    std::string ratioText;        // whole percent followed by " %"
    std::int64_t unreadable = 0;  // entries below the folder that could not be read
};

ScanTotals MakeScanTotals(std::int64_t logical, std::int64_t onDisk, const NumberFormat& format);

}  // namespace packmeter
