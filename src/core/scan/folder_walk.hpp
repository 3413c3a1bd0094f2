#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/fs/algorithm_bytes.hpp"
#include "core/fs/filesystem.hpp"
#include "core/scan/file_id_set.hpp"
#include "core/utils/compression.hpp"

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

// Whether `stop` (when given) has been set. Every walk and command reads it before each entry
// and ends there, so a file is never left half switched.
inline bool Stopped(const StopFlag* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

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

// The files with several names (hard links) met in one sum, so that each counts once: the
// first of its names that the walk meets adds its sizes, the others nothing. Files known to
// have one name never reach the set; where the back end cannot tell (links 0: Windows lists
// ids but no link counts) every file with an id does. The ids of the first volume met are kept
// in a compact set of 8-byte keys; those of other volumes in a small set of pairs. Safe to share
// between the threads of one walk.
class LinkedFiles {
  public:
    // True when `entry` is to be counted: it has one link (or no id), or it is the first name
    // met of its file.
    bool CountOnce(const Entry& entry);
    // The same by the file's volume and id.
    bool CountOnce(std::uint64_t volumeId, std::uint64_t fileId);
    // How many files the set holds, and the bytes it takes.
    std::size_t Size() const;
    std::size_t Bytes() const;
    // Forgets every file and frees the memory.
    void Clear();

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
    bool haveVolume_ = false;
    std::uint64_t volume_ = 0;
    FileIdSet ids_;
    std::unordered_set<Key, KeyHash> others_;
};

// What a walk over a folder tree does at each place (WalkTree). Measuring, counting and
// switching compression are visitors of the one walk, so every one of them goes through a tree
// in the same order and meets the same entries.
class TreeVisitor {
  public:
    virtual ~TreeVisitor() = default;
    // The folder `path` (with trailing separator) has been opened and is about to be listed;
    // the walk's root first. False ends the walk.
    virtual bool EnterFolder(Folder& folder, const std::string& path) = 0;
    // Each entry of the folder's listing as it is read (a file's sizes are known only now).
    virtual void Listed(const Entry& /*entry*/) {}
    // The folder `path` was entered but could not be listed (or not to its end).
    virtual bool NotListed(const std::string& /*path*/) { return true; }
    // The sub-folder `path` (with trailing separator) could not be opened.
    virtual bool NotOpened(const std::string& /*path*/) { return true; }
    // Whether File is called: the regular files of each folder, once its listing is done.
    virtual bool VisitsFiles() const { return false; }
    // A regular file `name` of the folder `path`, in listing order. False ends the walk.
    virtual bool File(Folder& /*folder*/, const std::string& /*path*/, const std::string& /*name*/,
                      std::int64_t /*size*/) {
        return true;
    }
    // Whether the walk enters the sub-folders (false: the root folder and its files only).
    virtual bool Descends() const { return true; }
};

// How a WalkTree ended.
enum class WalkEnd { kWhole, kStopped, kEnded };

// Walks the tree of `root` (open; `path` names it with trailing separator) depth first: each
// folder is entered, listed (`detail`), its files visited, then its sub-folders follow in
// listing order, each tree finished before the next. Links, mount points, "." and ".." are
// never entered. The folders on the way down are kept in a list of their own rather than on
// the call stack, so no depth of tree can exhaust the stack, and a folder is closed once its
// last sub-folder is entered. `stop` is read at every listed entry, before every file and
// before every sub-folder: kStopped then, kEnded when a visitor returned false.
WalkEnd WalkTree(Folder& root, const std::string& path, ListDetail detail, const StopFlag* stop,
                 TreeVisitor& visitor);

// The sizes of every file below `path` (a file with several names counted once). With
// kCompress or kDecompress each folder is first switched with its own files, as
// SetFolderCompression does without recursion (a folder whose own switch fails keeps its
// files), and then measured; the results of the switches are ignored. When `stop` is set the
// walk is abandoned at the next entry. `progress`, when given, follows the folders entered.
FolderSizes GetFolderSizes(FileSystem& fs, const std::string& path, WalkMode mode = kMeasure,
                           const StopFlag* stop = nullptr, ScanProgress* progress = nullptr);
// The same for a folder already open; `path` names it (with trailing separator) for the
// progress. Linked files are counted once within `links`, which may span several calls.
FolderSizes GetFolderSizes(Folder& folder, const std::string& path, WalkMode mode,
                           const StopFlag* stop, ScanProgress* progress, LinkedFiles& links);

// One folder's listing as every measuring walk reads it: adds its files' sizes to `sizes` (a
// file with several names once within `links`) and counts what could not be read; returns the
// names of the sub-folders to enter, in listing order ("." and ".." and links never among them).
// With `all`, the files not counted before within `all` (one set for several trees) are also
// added to `allSizes`, so that a file linked from two trees counts once in their sum.
std::vector<std::string> ListForWalk(Folder& folder, const StopFlag* stop, LinkedFiles& links,
                                     FolderSizes& sizes, LinkedFiles* all = nullptr,
                                     FolderSizes* allSizes = nullptr);

// What a switch of a tree tells as it goes; every call comes on the switching thread.
class SwitchListener {
  public:
    virtual ~SwitchListener() = default;
    // `path` (a file, or a folder with trailing separator) is about to be switched.
    virtual void Switching(const std::string& path) = 0;
    // `path` has been switched, or could not be (`ok` false); `bytes` is a file's logical
    // size, 0 for a folder.
    virtual void Switched(const std::string& path, std::int64_t bytes, bool ok) = 0;
};

// Switches the compression of the tree of `root` (open; `path` names it with trailing
// separator) as both programs' compression commands do: each folder, then its files in listing
// order, then its sub-folders.
//
// The failure rule: every entry is tried, and each one that cannot be switched goes to
// `failures` with its full path and reason while the walk goes on; a folder whose own mark
// cannot be switched still has its files and sub-folders tried, and a sub-folder that cannot
// be opened (or listed) is a failure like any other, never skipped in silence. A user who
// switches a tree wants as much of it switched as the file system allows and to be told by name
// what was left as it was; stopping at the first refusal (a file held open elsewhere) would
// leave the rest untouched for no reason of its own. Only `stop` ends the walk early (false).
bool SwitchTree(Folder& root, const std::string& path, bool decompress, const StopFlag* stop,
                SwitchListener* listener, std::vector<CompressionFailure>* failures);

// Switches the folder itself first; only when that succeeds, its regular files (and, with
// `recurse`, its sub-folders, each completely before the next entry), in listing order. Unlike
// the commands' SwitchTree, the first failure stops everything and is passed up, with the entry
// (relative to `path`, empty for the folder itself) and its reason in `failure`; nothing is
// rolled back. Once `stop` is set the walk ends before the next entry, with false.
bool SetFolderCompression(FileSystem& fs, const std::string& path, bool decompress, bool recurse,
                          CompressionFailure* failure = nullptr, const StopFlag* stop = nullptr);
bool SetFolderCompression(Folder& folder, bool decompress, bool recurse,
                          CompressionFailure* failure = nullptr, const StopFlag* stop = nullptr);

}  // namespace packmeter
