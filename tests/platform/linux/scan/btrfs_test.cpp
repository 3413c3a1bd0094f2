// btrfs: on-disk sizes from the extent tree, and switching compression of trees and files.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/scan/folder_walk.hpp"
#include "core/utils/compression.hpp"
#include "platform/system.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;

void WriteAt(const std::string& path, const std::string& data, off_t offset) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), offset), static_cast<ssize_t>(data.size()));
    ::close(fd);
}

class BtrfsTest : public ::testing::Test {
  protected:
    TestArea area_;
};

TEST_F(BtrfsTest, CompressedSizesEqualTheExtentTree) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfsZstd, root);
    const std::string top = root + "/";
    WriteFile(top + "text", Compressible(3 << 20));
    WriteFile(top + "inline", Compressible(1500));  // compressed inside the tree itself
    // Incompressible data first would make btrfs give up compressing the whole file.
    WriteFile(top + "mixed", Compressible(600000) + Incompressible(200000));
    WriteFile(top + "random", Incompressible(300000));
    WriteFile(top + "holes", "");
    ASSERT_EQ(::truncate((top + "holes").c_str(), 8 << 20), 0);
    WriteAt(top + "holes", Compressible(256 << 10), 1 << 20);
    RunCommand({"sync"});
    // Overwriting the middle of a compressed extent leaves the file referencing parts of one
    // disk extent twice, which counts once.
    WriteAt(top + "text", Incompressible(4096, 7), 40960);
    RunCommand({"sync"});

    const auto state = ListFolder(top, ListDetail::kSizesAndState);
    const auto sizes = ListFolder(top, ListDetail::kSizes);
    ASSERT_EQ(state.size(), 5u);
    for (const char* name : {"text", "inline", "mixed", "holes"}) {
        const Entry& entry = Find(state, name);
        EXPECT_TRUE(entry.attributes & attr::kCompressed) << name;
        EXPECT_EQ(entry.onDisk, CompsizeBytes(top + name)) << name;
        EXPECT_LT(entry.onDisk, entry.size) << name;
    }
    EXPECT_TRUE(Find(state, "holes").attributes & attr::kSparse);
    // Incompressible data stays plain and counts its logical size.
    EXPECT_EQ(Find(state, "random").attributes & (attr::kCompressed | attr::kSparse), 0u);
    EXPECT_EQ(Find(state, "random").onDisk, 300000);
    // The walk below the rows reads less but comes to the same sizes.
    for (const Listed& item : state) {
        EXPECT_EQ(Find(sizes, item.name).onDisk, item.entry.onDisk) << item.name;
    }
}

TEST_F(BtrfsTest, TreeRoundTripKeepsDataAndMovesSizes) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/";
    fs::create_directories(top + "a/b");
    WriteFile(top + "a/text.txt", Compressible(512 << 10));
    WriteFile(top + "a/random.bin", Incompressible(128 << 10));
    WriteFile(top + "a/b/deeper.txt", Compressible(256 << 10));
    WriteFile(top + "c.txt", Compressible(300000));
    WriteFile(top + "empty", "");
    const Sizes before = WalkSizes(top);
    EXPECT_EQ(before.onDisk, before.logical);

    // Written just now and still in the page cache: the switch must sync before rewriting.
    EXPECT_TRUE(SwitchAsCommand(top, false).empty());
    const Sizes packed = WalkSizes(top);
    EXPECT_EQ(packed.logical, before.logical);
    EXPECT_LT(packed.onDisk, (128 << 10) + before.logical / 4);
    ScanResult scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("a").StateIndex(), kStateCompressed + kFolderFlag);
    EXPECT_EQ(scan.Row("c.txt").StateIndex(), kStateCompressed);
    EXPECT_EQ(scan.Row("c.txt").onDisk, CompsizeBytes(top + "c.txt"));
    // New files in a compressed folder are compressed too.
    WriteFile(top + "a/b/new.txt", Compressible(200000));
    RunCommand({"sync"});
    EXPECT_LT(CompsizeBytes(top + "a/b/new.txt"), 200000 / 3);
    const std::string hashes = TreeSha256(top);

    EXPECT_TRUE(SwitchAsCommand(top, true).empty());
    const Sizes plain = WalkSizes(top);
    EXPECT_EQ(plain.onDisk, plain.logical);
    EXPECT_EQ(CompsizeBytes(top + "c.txt"), (300000 + 4095) / 4096 * 4096);
    EXPECT_EQ(TreeSha256(top), hashes);
    scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("a").StateIndex(), kStatePlain + kFolderFlag);
    EXPECT_EQ(scan.Row("c.txt").StateIndex(), kStatePlain);
}

TEST_F(BtrfsTest, SingleFileRoundTripAndRefusals) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfsZstd, root);
    const std::string top = root + "/";
    fs::create_directories(top + "folder");
    // Plain while written: btrfs stops compressing a file whose first data does not compress.
    WriteFile(top + "file.txt", Incompressible(64 << 10) + Compressible(1 << 20));
    fs::create_symlink("file.txt", top + "link");
    const std::string hash = TreeSha256(top);
    const auto fs = MakeFileSystem();

    ASSERT_TRUE(SetFileCompression(*fs, top + "file.txt", false));
    const Entry packed = Find(ListFolder(top, ListDetail::kSizesAndState), "file.txt");
    EXPECT_LT(packed.onDisk, 200000);
    EXPECT_TRUE(packed.attributes & attr::kCompressed);
    EXPECT_TRUE(SetFileCompression(*fs, top + "file.txt", false));  // again: nothing to do

    ASSERT_TRUE(SetFileCompression(*fs, top + "file.txt", true));
    const Entry plain = Find(ListFolder(top, ListDetail::kSizesAndState), "file.txt");
    EXPECT_EQ(plain.onDisk, plain.size);
    EXPECT_EQ(plain.attributes & attr::kCompressed, 0u);
    EXPECT_EQ(TreeSha256(top), hash);

    // A decompressed folder keeps its new files plain, even on a compress=zstd mount.
    ASSERT_TRUE(SetFolderCompression(*fs, top + "folder", true, false));
    WriteFile(top + "folder/new.txt", Compressible(200000));
    RunCommand({"sync"});
    EXPECT_GE(CompsizeBytes(top + "folder/new.txt"), 200000);

    EXPECT_FALSE(SetFileCompression(*fs, top + "folder", false));
    EXPECT_FALSE(SetFileCompression(*fs, top + "link", false));
    EXPECT_FALSE(SetFileCompression(*fs, top + "missing", false));
}

}  // namespace
}  // namespace packmeter::testing
