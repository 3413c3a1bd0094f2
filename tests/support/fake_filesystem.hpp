#pragma once

// An in-memory file system for logic tests: a tree of folders and files with chosen sizes and
// attributes, a log of every compression switch, and failures that tests can plant.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"

namespace packmeter::testing {

struct FakeNode {
    enum class Kind { kFolder, kFile, kLink, kMountPoint, kSpecial };
    Kind kind = Kind::kFile;
    std::string name;
    std::int64_t size = 0;
    std::int64_t onDisk = -1;  // -1: the logical size
    std::uint32_t attributes = 0;
    bool linkToFolder = false;
    // A file with several names (hard links): every node with the same file id is one file.
    std::uint32_t links = 1;
    std::uint64_t fileId = 0;
    bool unreadable = false;                          // the folder cannot be listed or opened
    bool failSwitch = false;                          // switching its compression fails
    std::vector<std::unique_ptr<FakeNode>> children;  // listing order

    FakeNode& Folder(std::string childName, std::uint32_t attributes = 0);
    FakeNode& File(std::string childName, std::int64_t size, std::int64_t onDisk = -1,
                   std::uint32_t attributes = 0);
    FakeNode& Link(std::string childName, bool toFolder);
    FakeNode& MountPoint(std::string childName);
    FakeNode& Special(std::string childName);
    FakeNode* Child(const std::string& childName);
};

class FakeFileSystem : public FileSystem {
  public:
    FakeFileSystem();

    // The root folder, reached by the path "/" (and "/name/..." below it).
    FakeNode& Root() { return *root_; }
    FakeNode* Find(const std::string& path);

    std::unique_ptr<packmeter::Folder> OpenFolder(const std::string& path) override;
    VolumeInfo GetVolumeInfo(const std::string& path) override;
    bool CompressionAvailable() const override { return compressionAvailable; }

    bool compressionAvailable = true;
    VolumeInfo volume{true, "fakefs", true, ""};
    // Every switch in the order made: "+path" to compress, "-path" to decompress; folders end
    // in a separator.
    std::vector<std::string> switches;
    // Called at every listed entry, e.g. to stop a scan at a chosen point.
    std::function<void(const std::string& path)> onEntry;
    // How many listings were made.
    std::atomic<int> listings{0};
    // Files read through Folder::OpenFile, whose every byte is the first letter of the file's
    // name: each read as "path@offset", in the order made.
    std::vector<std::string> reads;

  private:
    friend class FakeFolder;
    std::unique_ptr<FakeNode> root_;
    std::mutex lock_;
};

}  // namespace packmeter::testing

namespace packmeter::testing {

// A fake path written with '/' in the platform's separator: P("/a/b/").
std::string P(std::string path);

// The tree the compression switches are tested on: /w with f1, sub/ (g1, inner/ (h1)), f2,
// .git/ (k), a link to a file, a link to a folder and a fifo.
void BuildSwitchTree(FakeFileSystem& fs);

}  // namespace packmeter::testing
