#include "core/scan/folder_walk.hpp"

#include <gtest/gtest.h>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::P;

// /data: a.txt (1000), sub/ (b 3000 with 1000 on disk, deep/ c 500), .git/ (d 7), ..odd/ (e 9),
// a link to a folder, a mount point, a device.
void BuildTree(FakeFileSystem& fs) {
    auto& data = fs.Root().Folder("data");
    data.File("a.txt", 1000);
    auto& sub = data.Folder("sub");
    sub.File("b", 3000, 1000, attr::kCompressed);
    sub.Folder("deep").File("c", 500);
    data.Folder(".git").File("d", 7);
    data.Folder("..odd").File("e", 9);
    data.Link("loop", true);
    data.MountPoint("mnt");
    data.Special("fifo");
}

TEST(GetFolderSizes, MeasuresEveryFileBelowButNotLinksMountsOrDoubleDotFolders) {
    FakeFileSystem fs;
    BuildTree(fs);
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(fs, P("/data/"), logical, onDisk, kMeasure);
    EXPECT_EQ(logical, 1000 + 3000 + 500 + 7);
    EXPECT_EQ(onDisk, 1000 + 1000 + 500 + 7);
    EXPECT_TRUE(fs.switches.empty());
    // The totals are added to, not replaced.
    GetFolderSizes(fs, P("/data/sub"), logical, onDisk, 42);  // other modes only measure
    EXPECT_EQ(logical, 4507 + 3500);
    EXPECT_TRUE(fs.switches.empty());
}

TEST(GetFolderSizes, CompressModesSwitchEachFolderBeforeItsFilesAndSubfolders) {
    FakeFileSystem fs;
    BuildTree(fs);
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(fs, P("/data"), logical, onDisk, kCompress);
    const std::vector<std::string> expected = {
        P("+/data/"),          P("+/data/a.txt"),      P("+/data/sub/"),  P("+/data/sub/b"),
        P("+/data/sub/deep/"), P("+/data/sub/deep/c"), P("+/data/.git/"), P("+/data/.git/d")};
    EXPECT_EQ(fs.switches, expected);

    fs.switches.clear();
    GetFolderSizes(fs, P("/data/sub/"), logical, onDisk, kDecompress);
    const std::vector<std::string> back = {P("-/data/sub/"), P("-/data/sub/b"),
                                           P("-/data/sub/deep/"), P("-/data/sub/deep/c")};
    EXPECT_EQ(fs.switches, back);
}

TEST(GetFolderSizes, AFailedFolderSwitchLeavesItsFilesAloneButTheWalkGoesOn) {
    FakeFileSystem fs;
    BuildTree(fs);
    fs.Find(P("/data/sub"))->failSwitch = true;
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(fs, P("/data/"), logical, onDisk, kCompress);
    EXPECT_EQ(logical, 4507);
    const std::vector<std::string> expected = {P("+/data/"),          P("+/data/a.txt"),
                                               P("+/data/sub/deep/"), P("+/data/sub/deep/c"),
                                               P("+/data/.git/"),     P("+/data/.git/d")};
    EXPECT_EQ(fs.switches, expected);
}

TEST(GetFolderSizes, UnreadableOrMissingFoldersAddNothing) {
    FakeFileSystem fs;
    BuildTree(fs);
    fs.Find(P("/data/sub"))->unreadable = true;
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(fs, P("/data/"), logical, onDisk, kMeasure);
    EXPECT_EQ(logical, 1007);
    GetFolderSizes(fs, P("/nowhere/"), logical, onDisk, kMeasure);
    EXPECT_EQ(logical, 1007);
    EXPECT_EQ(CurrentScanFolder(), P("/nowhere/"));
}

TEST(GetFolderSizes, StopsAtTheNextEntryOnceAsked) {
    FakeFileSystem fs;
    auto& root = fs.Root().Folder("big");
    for (int i = 0; i < 50; ++i) {
        root.Folder("f" + std::to_string(i)).File("x", 10);
    }
    StopFlag stop{false};
    int seen = 0;
    fs.onEntry = [&](const std::string&) {
        if (++seen == 7) {
            stop = true;
        }
    };
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(fs, P("/big/"), logical, onDisk, kMeasure, &stop);
    EXPECT_LE(seen, 8);
    EXPECT_LT(logical, 50 * 10);
}

TEST(CurrentScanFolder, NamesTheLastFolderEnteredAndIsWholeUnderConcurrentWrites) {
    FakeFileSystem fs;
    BuildTree(fs);
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(fs, P("/data/"), logical, onDisk, kMeasure);
    EXPECT_EQ(CurrentScanFolder(), P("/data/.git/"));

    const std::string a(1000, 'a');
    const std::string b(3000, 'b');
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            SetCurrentScanFolder(i % 2 ? a : b);
        }
        done = true;
    });
    while (!done) {
        const std::string seen = CurrentScanFolder();
        ASSERT_TRUE(seen == a || seen == b || seen == P("/data/.git/"));
    }
    writer.join();
}

}  // namespace
}  // namespace packmeter
