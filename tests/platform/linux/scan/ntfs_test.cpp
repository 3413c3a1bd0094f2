// NTFS through ntfs-3g: sizes from the allocation, folder marks, and the rewrite that switches a
// file's compression, with what it keeps and what it refuses.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

class NtfsTest : public ::testing::Test {
  protected:
    static std::string Xattr(const std::string& path, const char* name) {
        char value[256];
        const ssize_t got = ::getxattr(path.c_str(), name, value, sizeof value);
        return got < 0 ? std::string() : std::string(value, static_cast<std::size_t>(got));
    }
    static ino_t Inode(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_ino;
    }
    TestArea area_;
};

TEST_F(NtfsTest, SizesFollowTheAllocationOnlyForCompressedAndSparseFiles) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string top = root + "/sizes/";
    fs::create_directories(top + "packed");
    const auto fs = MakeFileSystem();
    ASSERT_TRUE(SetFolderCompression(*fs, top + "packed", false, false));
    // Born compressed in the marked folder.
    WriteFile(top + "packed/text", Compressible(600000));
    WriteFile(top + "packed/random", Incompressible(100000));
    WriteFile(top + "packed/tiny", "kept inside the MFT record");
    WriteFile(top + "plain", Compressible(5000));
    WriteFile(top + "sparse", "");
    ASSERT_EQ(::truncate((top + "sparse").c_str(), 5LL << 30), 0);

    const auto packed = ListFolder(top + "packed", ListDetail::kSizesAndState);
    const Entry& text = Find(packed, "text");
    EXPECT_TRUE(text.attributes & attr::kCompressed);
    EXPECT_EQ(text.onDisk, AllocatedBytes(top + "packed/text"));
    EXPECT_LT(text.onDisk, 600000 / 3);
    // Compressed but saving nothing, or kept in the file record: the allocation is more than
    // the size, and the figure is capped at the size, as a plain file shows.
    EXPECT_GT(AllocatedBytes(top + "packed/random"), 100000);
    EXPECT_EQ(Find(packed, "random").onDisk, 100000);
    EXPECT_GT(AllocatedBytes(top + "packed/tiny"), 26);
    EXPECT_EQ(Find(packed, "tiny").onDisk, 26);
    const auto sizes = ListFolder(top + "packed", ListDetail::kSizes);
    for (const Listed& item : packed) {
        EXPECT_EQ(Find(sizes, item.name).onDisk, item.entry.onDisk) << item.name;
    }

    const ScanResult scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("packed").StateIndex(), kStateCompressed + kFolderFlag);
    EXPECT_EQ(scan.Row("plain").StateIndex(), kStatePlain);
    EXPECT_EQ(scan.Row("plain").onDisk, 5000);  // 8 KiB allocated
    EXPECT_EQ(scan.Row("sparse").StateIndex(), kStateCompressed);
    EXPECT_EQ(scan.Row("sparse").SizeTexts().size, "5120 MB");
    EXPECT_EQ(scan.Row("sparse").onDisk, AllocatedBytes(top + "sparse"));
}

TEST_F(NtfsTest, TreeRoundTripKeepsDataNamesAndMetadata) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string top = root + "/work";
    fs::create_directories(top + "/a/b");
    WriteFile(top + "/a/text.txt", Compressible(700000));
    WriteFile(top + "/a/random.bin", Incompressible(90000));
    WriteFile(top + "/a/b/αβγ 漢字.txt", Compressible(300000));
    WriteFile(top + "/zeros", std::string(1 << 20, '\0') + "end");
    WriteFile(top + "/c.txt", Compressible(200000));
    const std::string c = top + "/c.txt";
    ASSERT_EQ(::setxattr(c.c_str(), "user.stream", "named stream", 12, 0), 0);
    ASSERT_EQ(::setxattr(c.c_str(), "system.ntfs_dos_name", "C~1.TXT", 7, 0), 0);
    const timespec old[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, c.c_str(), old, 0), 0);
    const std::string hashes = TreeSha256(top);
    const Sizes before = WalkSizes(top);
    EXPECT_EQ(before.onDisk, before.logical);

    EXPECT_TRUE(SwitchAsCommand(top, false).empty());
    const Sizes packed = WalkSizes(top);
    EXPECT_EQ(packed.logical, before.logical);
    EXPECT_LT(packed.onDisk, 90000 + before.logical / 4);
    EXPECT_EQ(TreeSha256(top), hashes);
    ScanResult scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("a").StateIndex(), kStateCompressed + kFolderFlag);
    EXPECT_EQ(scan.Row("c.txt").StateIndex(), kStateCompressed);
    EXPECT_EQ(scan.Row("c.txt").onDisk, AllocatedBytes(c));
    // The rewrite kept the stream, the DOS name and the write time, and left no scratch.
    EXPECT_EQ(Xattr(c, "user.stream"), "named stream");
    EXPECT_EQ(Xattr(c, "system.ntfs_dos_name"), "C~1.TXT");
    struct stat st {};
    ASSERT_EQ(::stat(c.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(ListFolder(top, ListDetail::kSizes).size(), 3u);

    EXPECT_TRUE(SwitchAsCommand(top, true).empty());
    const Sizes plain = WalkSizes(top);
    EXPECT_EQ(plain.onDisk, plain.logical);
    EXPECT_GE(AllocatedBytes(c), 200000);
    EXPECT_GE(AllocatedBytes(top + "/zeros"), 1 << 20);  // plain again: zeros written out
    EXPECT_EQ(TreeSha256(top), hashes);
    scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("a").StateIndex(), kStatePlain + kFolderFlag);
    EXPECT_EQ(scan.Row("zeros").StateIndex(), kStatePlain);
    EXPECT_EQ(Xattr(c, "system.ntfs_dos_name"), "C~1.TXT");
}

TEST_F(NtfsTest, SingleFileRoundTripAndRefusals) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string top = root + "/";
    for (const char* name : {"linked", "held", "dos"}) {
        WriteFile(top + name, Compressible(100000));
    }
    ASSERT_EQ(::link((top + "linked").c_str(), (top + "other name").c_str()), 0);
    // A DOS name shows as a second link without posix_nlink; it is no reason to refuse.
    ASSERT_EQ(::setxattr((top + "dos").c_str(), "system.ntfs_dos_name", "DOS~1", 5, 0), 0);
    const std::string hashes = TreeSha256(top);
    const ino_t linked = Inode(top + "linked");
    const auto fs = MakeFileSystem();

    EXPECT_FALSE(SetFileCompression(*fs, top + "linked", false));
    EXPECT_EQ(Inode(top + "linked"), linked);
    {
        const int fd = ::open((top + "held").c_str(), O_RDONLY);
        EXPECT_FALSE(SetFileCompression(*fs, top + "held", false));
        ::close(fd);
    }
    EXPECT_TRUE(SetFileCompression(*fs, top + "held", false));
    EXPECT_LT(Find(ListFolder(top, ListDetail::kSizes), "held").onDisk, 100000 / 2);
    EXPECT_TRUE(SetFileCompression(*fs, top + "dos", false));
    EXPECT_EQ(Xattr(top + "dos", "system.ntfs_dos_name"), "DOS~1");
    EXPECT_TRUE(SetFileCompression(*fs, top + "held", true));
    // Back to plain, nothing left behind, every file's data unchanged.
    const auto listed = ListFolder(top, ListDetail::kSizesAndState);
    EXPECT_EQ(listed.size(), 4u);
    EXPECT_EQ(Find(listed, "held").onDisk, 100000);
    EXPECT_EQ(Find(listed, "held").attributes & attr::kCompressed, 0u);
    EXPECT_EQ(Find(listed, "linked").attributes & attr::kCompressed, 0u);
    EXPECT_TRUE(Find(listed, "dos").attributes & attr::kCompressed);
    EXPECT_EQ(TreeSha256(top), hashes);
}

}  // namespace
}  // namespace packmeter::testing
