#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/fs/algorithm_bytes.hpp"
#include "core/utils/size_text.hpp"

namespace packmeter {

// How much of an entry is stored compressed.
enum class CompressionState : std::uint8_t {
    kPlain = 0,       // neither flagged nor smaller on disk than its size
    kPartly = 1,      // not flagged, but smaller on disk (a folder with compressed contents)
    kCompressed = 2,  // flagged compressed or sparse, whatever the sizes
};

// The state value a row stores: the compression state, plus kFolderFlag for a folder.
inline constexpr int kStatePlain = static_cast<int>(CompressionState::kPlain);
inline constexpr int kStatePartly = static_cast<int>(CompressionState::kPartly);
inline constexpr int kStateCompressed = static_cast<int>(CompressionState::kCompressed);
inline constexpr int kFolderFlag = 4;

// What the list's order and colours read from a row, kept typed: the texts are for display.
struct EntryKeys {
    std::int64_t shownSize = 0;    // the number that the Size text shows
    std::int64_t shownOnDisk = 0;  // the number that the Compresed text shows
    std::int64_t ratioPercent = 0;
    SizeUnit unit = SizeUnit::kKB;  // the unit of both size texts
    CompressionState state = CompressionState::kPlain;
    bool folder = false;
    bool incomplete = false;  // some of it could not be read, so its sizes may be short

    int StateIndex() const { return static_cast<int>(state) + (folder ? kFolderFlag : 0); }
};

// What a row stands for beyond file or folder: links, mount points and special files (devices,
// pipes, sockets) are shown with 0 bytes and never entered.
enum class EntryKind : std::uint8_t { kPlain, kLink, kMount, kSpecial };

// One row of the list: an entry directly inside the scanned folder. It keeps the raw name and
// the sizes as numbers; the caption, the size texts and the ratio are made from them when they
// are shown, so that a list of a million rows holds no million texts.
struct EntryRow {
    std::string name;         // raw bytes, for file-system calls
    std::int64_t size = 0;    // logical bytes
    std::int64_t onDisk = 0;  // bytes taken on disk
    // Entries of this row's tree (the entry itself included) that could not be read; the sizes
    // leave them out.
    std::int64_t unreadable = 0;
    // The bytes by compression algorithm, where the file system tells them.
    AlgorithmSplit byAlgorithm{};
    int iconIndex = -1;
    EntryKind kind = EntryKind::kPlain;
    CompressionState state = CompressionState::kPlain;
    bool folder = false;

    bool IsFolder() const { return folder; }
    int StateIndex() const { return static_cast<int>(state) + (folder ? kFolderFlag : 0); }
    // What the list's order and colours read: the numbers the texts show, the ratio, the state.
    EntryKeys Keys() const;
    // The name as display text (valid UTF-8).
    std::string Caption() const;
    // Column "Size", and column "Compresed" in the unit of the size text.
    SizePair SizeTexts() const;
    // Column "Ratio": whole percent followed by " %".
    std::string RatioText() const;
};

// Rows in the order they came, in chunks of fixed size: adding a row never moves the rows
// already there, so a growing list never holds its rows twice nor leaves half its room unused.
class EntryRows {
  public:
    EntryRows() = default;
    EntryRows(EntryRows&& other) noexcept
        : chunks_(std::move(other.chunks_)), size_(std::exchange(other.size_, 0)) {}
    EntryRows& operator=(EntryRows&& other) noexcept {
        chunks_ = std::move(other.chunks_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    EntryRow& operator[](std::size_t at) { return chunks_[at / kChunk][at % kChunk]; }
    const EntryRow& operator[](std::size_t at) const { return chunks_[at / kChunk][at % kChunk]; }
    void push_back(EntryRow row);
    // Puts row order[i] at position i, moving the rows in place; `order` holds every position
    // once.
    void Reorder(const std::vector<std::size_t>& order);

  private:
    static constexpr std::size_t kChunk = 2048;
    std::vector<std::vector<EntryRow>> chunks_;
    std::size_t size_ = 0;
};

// Saving in whole percent, (logical - onDisk) / logical, rounded half to even; 0 when empty.
std::int64_t RatioPercent(std::int64_t logical, std::int64_t onDisk);

// Compressed when flagged (compressed or sparse), else partly when the data takes less room
// than its size, else plain.
CompressionState RowState(bool flagged, std::int64_t logical, std::int64_t onDisk);

// The row of an entry from its logical size and then its on-disk size, the order of the
// columns; its state comes from the two and the flag, its ratio and texts when they are shown.
EntryRow MakeEntryRow(std::string name, int iconIndex, bool isFolder, bool flagged,
                      std::int64_t logical, std::int64_t onDisk);

// The folder totals shown above the list.
struct ScanTotals {
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    std::int64_t ratioPercent = 0;
    std::string sizeText;          // FormatSize with 0 decimals
    std::string onDiskText;        // FormatSize with 0 decimals
    std::string ratioText;         // whole percent followed by " %"
    std::int64_t unreadable = 0;   // entries below the folder that could not be read
    AlgorithmSplit byAlgorithm{};  // where the file system tells it
};

ScanTotals MakeScanTotals(std::int64_t logical, std::int64_t onDisk, const NumberFormat& format);

}  // namespace packmeter
