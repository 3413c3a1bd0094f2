#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/algorithm_bytes.hpp"

namespace packmeter {

// The progress of one scan or walk: the folder (with trailing separator) that its walk entered
// last; empty at start. Written by whichever of its threads walks, read by the status timer of
// the window that started it; guarded by its own lock so that a reader sees a whole path.
class ScanProgress {
  public:
    std::string CurrentScanFolder() const;
    void SetCurrentScanFolder(std::string_view folder);
    // The same unless another thread holds the lock: walkers on several threads then go on
    // rather than wait for each other (the status shows one of the folders being walked).
    void TrySetCurrentScanFolder(std::string_view folder);

  private:
    mutable std::mutex lock_;
    std::string folder_;
};

// What a walk does in every folder it enters: measure only (0), or first switch compression
// on (1) or off (-1) for the folder and its own files.
enum class WalkMode { kMeasure = 0, kCompress = 1, kDecompress = -1 };
inline constexpr WalkMode kMeasure = WalkMode::kMeasure;
inline constexpr WalkMode kCompress = WalkMode::kCompress;
inline constexpr WalkMode kDecompress = WalkMode::kDecompress;

using StopFlag = std::atomic<bool>;

// The logical and on-disk bytes of the files below a folder.
struct FolderSizes {
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    // Entries that could not be read: folders that could not be opened or listed, and entries
    // whose kind and sizes could not be read. The sizes leave them out.
    std::int64_t unreadable = 0;
    // The bytes by compression algorithm, where the file system tells them.
    AlgorithmSplit byAlgorithm{};

    FolderSizes& operator+=(const FolderSizes& other) {
        logical += other.logical;
        onDisk += other.onDisk;
        unreadable += other.unreadable;
        byAlgorithm += other.byAlgorithm;
        return *this;
    }
    bool operator==(const FolderSizes&) const = default;
};

// A file with several names, with its sizes.
struct LinkedFile {
    std::uint64_t volumeId = 0;
    std::uint64_t fileId = 0;
    FolderSizes sizes;
};

// The files with several names (hard links) met in one sum, so that each counts once: the
// first of its names that the walk meets adds its sizes, the others nothing. Files with one
// name never reach the set, so it stays as small as the number of such files. Safe to share
// between the threads of one walk.
class LinkedFiles {
  public:
    // True when `entry` is to be counted: it has one link, or it is the first name met of its
    // file.
    bool CountOnce(const Entry& entry);
    // The same for a linked file met in another sum: true when it is new here.
    bool CountOnce(const LinkedFile& file);
    // The linked files counted so far, in no particular order.
    std::vector<LinkedFile> Counted() const;

  private:
    struct Key {
        std::uint64_t volumeId;
        std::uint64_t fileId;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const {
            return std::hash<std::uint64_t>()(key.fileId * 0x9E3779B97F4A7C15ull ^ key.volumeId);
        }
    };
    mutable std::mutex lock_;
    std::unordered_set<Key, KeyHash> seen_;
    std::vector<LinkedFile> counted_;
};

// The sizes of every file below `path` (a file with several names counted once). With
// kCompress or kDecompress each folder is switched (with its own files) before it is measured;
// the results of the switches are ignored. When `stop` is set the walk is abandoned at the next
// entry. `progress`, when given, follows the folders entered.
FolderSizes GetFolderSizes(FileSystem& fs, const std::string& path, WalkMode mode = kMeasure,
                           const StopFlag* stop = nullptr, ScanProgress* progress = nullptr);
// The same for a folder already open; `path` names it (with trailing separator) for the
// progress. Linked files are counted once within `links`, which may span several calls.
FolderSizes GetFolderSizes(Folder& folder, const std::string& path, WalkMode mode,
                           const StopFlag* stop, ScanProgress* progress, LinkedFiles& links);

// One folder's listing as every walk reads it: adds its files' sizes to `sizes` (a file with
// several names once within `links`) and counts what could not be read; returns the names of
// the sub-folders to enter, in listing order ("." and ".." and links never among them).
std::vector<std::string> ListForWalk(Folder& folder, const StopFlag* stop, LinkedFiles& links,
                                     FolderSizes& sizes);

}  // namespace packmeter
