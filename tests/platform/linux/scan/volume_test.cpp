// The volume line: file-system names and compression support found through the mount.

#include <gtest/gtest.h>

#include "core/utils/compression.hpp"
#include "platform/system.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

class VolumeTest : public ::testing::Test {
  protected:
    TestArea area_;
};

TEST_F(VolumeTest, NamesTheFileSystemAndItsCompressionSupport) {
    const auto fs = MakeFileSystem();
    struct Expected {
        VolumeType type;
        const char* options;  // further NTFS mount options
        const char* name;
        bool supports;
        const char* notice;
    };
    const char* const kNoCompression =
        "mounted with the option nocompression: files cannot be compressed";
    for (const Expected& expected : {
             Expected{VolumeType::kBtrfs, "", "btrfs", true, ""},
             Expected{VolumeType::kNtfs, "", "NTFS", true, ""},
             Expected{VolumeType::kTmpfs, "", "tmpfs", false, ""},
             // ntfs-3g does not show this option in the mount table; new files stay plain.
             Expected{VolumeType::kNtfs, "nocompression", "NTFS", false, kNoCompression},
             Expected{VolumeType::kLowNtfs, "nocompression", "NTFS", false, kNoCompression},
             Expected{VolumeType::kNtfs, "streams_interface=windows", "NTFS", true, ""},
         }) {
        SCOPED_TRACE(std::string(expected.name) + " " + expected.options);
        std::string why;
        const std::string root = area_.Volume(expected.type, why, expected.options);
        if (root.empty()) {
            GTEST_SKIP() << why;
        }
        const VolumeInfo info = fs->GetVolumeInfo(root + "/");
        EXPECT_TRUE(info.valid);
        EXPECT_EQ(info.fileSystem, expected.name);
        EXPECT_EQ(info.supportsCompression, expected.supports);
        EXPECT_EQ(info.notice, expected.notice);  // root measures btrfs exactly
    }
    // The build's own folder, named as the mount table names it (ext4 here, never compressing).
    const std::string local = area_.Folder();
    const std::string type = RunCommand({"findmnt", "-n", "-o", "FSTYPE", "-T", local}).output;
    const VolumeInfo info = fs->GetVolumeInfo(local);
    EXPECT_EQ(info.fileSystem + "\n", type);
    if (type == "ext4\n" || type == "xfs\n" || type == "tmpfs\n") {
        EXPECT_FALSE(info.supportsCompression);
    }
    EXPECT_FALSE(fs->GetVolumeInfo(local + "/missing").valid);
    // ext4 takes the compression flag and reports it, but compresses nothing: not shown as
    // compressed, and not switchable.
    if (type == "ext4\n") {
        WriteFile(local + "/flagged", Compressible(100000));
        ASSERT_EQ(RunCommand({"chattr", "+c", local + "/flagged"}).status, 0);
        const Entry entry = Find(ListFolder(local, ListDetail::kSizesAndState), "flagged");
        EXPECT_EQ(entry.attributes & attr::kCompressed, 0u);
        EXPECT_EQ(entry.onDisk, 100000);
        EXPECT_FALSE(SetFileCompression(*fs, local + "/flagged", false));
    }
}

}  // namespace
}  // namespace packmeter::testing
