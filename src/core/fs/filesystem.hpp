#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/fs/algorithm_bytes.hpp"

namespace packmeter {

// File attribute bits in the Windows numbering, which every back end reports in.
namespace attr {
inline constexpr std::uint32_t kDirectory = 0x10;
inline constexpr std::uint32_t kSparse = 0x200;
inline constexpr std::uint32_t kReparsePoint = 0x400;
inline constexpr std::uint32_t kCompressed = 0x800;
inline constexpr std::uint32_t kEncrypted = 0x4000;
}  // namespace attr

// One entry of a folder listing. `name` is valid only during the visit.
// The figure shown on disk for a compressed or sparse file: the bytes it occupies, but never more
// than its logical size. A plain file is shown at its logical size although it occupies whole
// clusters too; holding a compressed file to its clusters alone would show a loss that the
// plain file paid as well (a 64,000-byte file that does not shrink shows 64,000, not 65,536).
// Every back end makes the figure here, and every total adds these figures.
constexpr std::int64_t ShownOnDisk(std::int64_t occupied, std::int64_t size) {
    return occupied < size ? occupied : size;
}

struct Entry {
    // The name's raw bytes as the file system gives them (UTF-8 where it is valid).
    std::string_view name;
    // Shown among the folders: a folder, a mount point, or a link that points to a folder.
    bool folder = false;
    // A real folder on the same file system, which the walk enters. Links (symbolic links,
    // junctions) and mount points are never entered: following them counts data twice and
    // can loop forever.
    bool enterable = false;
    // A regular file, whose data is measured and whose compression can be switched. Links,
    // devices, sockets and pipes count 0 bytes and are left alone.
    bool regular = false;
    // Listed, but its kind and sizes could not be read (the folder may be read but not
    // searched): it counts 0 bytes, and the walk counts it as unreadable.
    bool unreadable = false;
    std::uint32_t attributes = 0;
    // Logical size in bytes (0 for anything but a regular file).
    std::int64_t size = 0;
    // The space the file takes: its logical size unless it is compressed or sparse, then the
    // bytes it really occupies, which may be more than its size (allocation rounding).
    std::int64_t onDisk = 0;
    // How many names (hard links) the regular file has; 1 where the back end knows of no
    // other, 0 where it cannot tell (Windows listings carry ids but no link counts).
    std::uint32_t links = 1;
    // With more than one link or an unknown count: what tells the file apart from every other
    // on the system (the device and inode number, or the volume serial and file id), so that
    // totals count it once. May be left 0 for files with one link; a file without an id
    // always counts.
    std::uint64_t volumeId = 0;
    std::uint64_t fileId = 0;
    // The bytes by compression algorithm, where the back end can tell them (empty otherwise).
    AlgorithmSplit byAlgorithm{};
};

// What a listing has to fill in. Sizes are always needed; the attributes, and whether a link
// points to a folder, only for the entries that are shown as rows, so back ends may skip
// costly reads below them. kWalk is kSizes for a walk that enters every enterable folder at
// once: a back end may then report a folder as enterable before it knows whether another file
// system is mounted on it, and OpenSubfolder refuses it (nullptr) if one is. kFolders is
// kSizesAndState for sub-folders and links alone: of a file, device, pipe or socket known as
// such from the listing only the name and that it is no folder are wanted, and back ends may
// report it without sizes.
enum class ListDetail { kWalk, kSizes, kSizesAndState, kFolders };

using EntryVisitor = std::function<bool(const Entry&)>;

// A regular file opened for reading its data once from start to end (the forecast of what
// compression would save reads files this way; back ends ask the cache not to keep the data).
class FileReader {
  public:
    virtual ~FileReader() = default;
    // Reads up to `size` bytes at `offset` into `buffer`: the bytes read, 0 at the end of the
    // file, -1 on an error.
    virtual std::int64_t Read(std::int64_t offset, std::uint8_t* buffer, std::int64_t size) = 0;
    // The start of the next stretch of data at or after `offset` (the file's size when none
    // follows): holes of a sparse file are skipped. Back ends that cannot tell return `offset`.
    virtual std::int64_t NextData(std::int64_t offset) { return offset; }
    // The end of the stretch of data that contains `offset` (the size when no hole follows).
    virtual std::int64_t NextHole(std::int64_t offset) = 0;
    // Whether the file is sparse where compressing leaves sparse files alone (ntfs-3g).
    virtual bool Sparse() { return false; }
};

// How compression is asked for: the algorithm and level where the file system offers a choice
// (btrfs), and a threshold under which a file is left plain.
enum class CompressionAlgorithm : std::uint8_t { kDefault, kZstd, kLzo, kZlib, kLznt1 };
struct CompressionChoice {
    CompressionAlgorithm algorithm = CompressionAlgorithm::kDefault;
    int level = 0;  // 0: the algorithm's default
    // A file whose forecast saves less than this share of its size is left plain; it counts
    // as switched, and `leftAlone` hears of it with the saving it would have had.
    double minSavingPercent = 0;
    std::function<void(std::string_view name, double savingPercent)> leftAlone;
};

// An open folder. Every operation is relative to it, so depth and path length do not matter.
class Folder {
  public:
    virtual ~Folder() = default;
    // Visits each entry except "." and ".." in listing order while `visit` returns true.
    // Returns false when the folder cannot be listed.
    virtual bool List(ListDetail detail, const EntryVisitor& visit) = 0;
    // The sub-folder `name`, or nullptr when it cannot be opened, is not a folder, or is the
    // root of another file system that the last listing did not report as such.
    virtual std::unique_ptr<Folder> OpenSubfolder(std::string_view name) = 0;
    // Switches the compression mark of this folder itself (new files inherit it).
    virtual bool SetCompression(bool decompress) = 0;
    // Switches the compression of the regular file `name` in this folder, data included.
    virtual bool SetFileCompression(std::string_view name, bool decompress) = 0;
    // Why the last SetCompression or SetFileCompression of this folder failed, in a few words
    // for the user ("disk full", "in use by process 42 (editor)"); empty when it did not fail
    // or the reason is not known.
    virtual std::string LastFailure() const { return {}; }
    // The regular file `name` of this folder opened for reading, or nullptr.
    virtual std::unique_ptr<FileReader> OpenFile(std::string_view /*name*/) { return nullptr; }
};

struct VolumeInfo {
    bool valid = false;
    std::string fileSystem;
    bool supportsCompression = false;
    // One line for the user when sizes on this volume are less exact than usual (for
    // example when measuring compressed data needs privileges the process lacks).
    std::string notice;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // The folder at `path` (with or without a trailing separator), or nullptr.
    virtual std::unique_ptr<Folder> OpenFolder(const std::string& path) = 0;
    virtual VolumeInfo GetVolumeInfo(const std::string& path) = 0;
    // Whether the platform offers the compression calls at all.
    virtual bool CompressionAvailable() const = 0;
    // How folders opened from now on (and their sub-folders) compress files; the volume's
    // default, everything compressed, until this is called.
    virtual void SetCompressionChoice(const CompressionChoice& /*choice*/) {}
    // Finishes or undoes a file switch that a killed run left half-done in the folder of `path`
    // (and inside `path` when it is a folder), so that the path is as the user left it before
    // a command checks it. Nothing to do where switches are done in place.
    virtual void RecoverInterruptedSwitches(const std::string& /*path*/) {}
    // A flag that, once set (from a signal handler too), makes a switch in progress give up at
    // once and leave its file as it was, where a switch takes long (a rewrite). Null: none.
    virtual void SetAbandonFlag(const std::atomic<bool>* /*flag*/) {}
    // Read-only: the names of the files in `folder` whose switch a killed run left half-done.
    virtual std::vector<std::string> InterruptedSwitches(const std::string& /*folder*/) {
        return {};
    }
};

// Gives the index of an entry's small icon in the program's shared icon list.
class IconSource {
  public:
    // What IconIndex answers for an entry whose icon is its own (a program, an icon file, a
    // shortcut), not its type's: OwnIconIndex looks it up when its row is first drawn.
    static constexpr int kOwnIcon = -2;

    virtual ~IconSource() = default;
    virtual int IconIndex(const std::string& folder, std::string_view name, bool isFolder) = 0;
    // The icon of the file `name` in `folder` itself, read from the file.
    virtual int OwnIconIndex(const std::string& folder, std::string_view name) {
        return IconIndex(folder, name, false);
    }
};

}  // namespace packmeter
