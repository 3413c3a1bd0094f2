#include "core/scan/folder_walk.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::BuildSwitchTree;
using testing::FakeFileSystem;
using testing::P;
using Switches = std::vector<std::string>;

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

TEST(GetFolderSizes, MeasuresEveryFileBelowButNotLinksOrMounts) {
    FakeFileSystem fs;
    BuildTree(fs);
    EXPECT_EQ(GetFolderSizes(fs, P("/data/")),
              (FolderSizes{1000 + 3000 + 500 + 7 + 9, 1000 + 1000 + 500 + 7 + 9}));
    EXPECT_EQ(GetFolderSizes(fs, P("/data/sub")), (FolderSizes{3500, 1500}));
    EXPECT_TRUE(fs.switches.empty());
}

TEST(GetFolderSizes, AFileWithSeveralLinksCountsOnce) {
    FakeFileSystem fs;
    auto& top = fs.Root().Folder("top");
    for (const char* folder : {"a", "b", "c"}) {
        top.Folder(folder).File("same", 700, 300);
        top.Child(folder)->Child("same")->links = 3;
        top.Child(folder)->Child("same")->fileId = 42;
    }
    top.Child("c")->File("own", 5);
    EXPECT_EQ(GetFolderSizes(fs, P("/top/")), (FolderSizes{705, 305}));
    EXPECT_EQ(GetFolderSizes(fs, P("/top/c/")), (FolderSizes{705, 305}));
}

TEST(GetFolderSizes, CompressModesSwitchEachFolderBeforeItsFilesAndSubfolders) {
    FakeFileSystem fs;
    BuildTree(fs);
    GetFolderSizes(fs, P("/data"), kCompress);
    const std::vector<std::string> expected = {
        P("+/data/"),          P("+/data/a.txt"),      P("+/data/sub/"),  P("+/data/sub/b"),
        P("+/data/sub/deep/"), P("+/data/sub/deep/c"), P("+/data/.git/"), P("+/data/.git/d"),
        P("+/data/..odd/"),    P("+/data/..odd/e")};
    EXPECT_EQ(fs.switches, expected);

    fs.switches.clear();
    GetFolderSizes(fs, P("/data/sub/"), kDecompress);
    const std::vector<std::string> back = {P("-/data/sub/"), P("-/data/sub/b"),
                                           P("-/data/sub/deep/"), P("-/data/sub/deep/c")};
    EXPECT_EQ(fs.switches, back);
}

TEST(GetFolderSizes, AFailedFolderSwitchLeavesItsFilesAloneButTheWalkGoesOn) {
    FakeFileSystem fs;
    BuildTree(fs);
    fs.Find(P("/data/sub"))->failSwitch = true;
    EXPECT_EQ(GetFolderSizes(fs, P("/data/"), kCompress).logical, 4516);
    const std::vector<std::string> expected = {
        P("+/data/"),      P("+/data/a.txt"),  P("+/data/sub/deep/"), P("+/data/sub/deep/c"),
        P("+/data/.git/"), P("+/data/.git/d"), P("+/data/..odd/"),    P("+/data/..odd/e")};
    EXPECT_EQ(fs.switches, expected);
}

TEST(GetFolderSizes, UnreadableOrMissingFoldersAddNothing) {
    FakeFileSystem fs;
    BuildTree(fs);
    fs.Find(P("/data/sub"))->unreadable = true;
    EXPECT_EQ(GetFolderSizes(fs, P("/data/")).logical, 1016);
    ScanProgress progress;
    EXPECT_EQ(GetFolderSizes(fs, P("/nowhere/"), kMeasure, nullptr, &progress).logical, 0);
    EXPECT_EQ(progress.CurrentScanFolder(), P("/nowhere/"));
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
    EXPECT_LT(GetFolderSizes(fs, P("/big/"), kMeasure, &stop).logical, 50 * 10);
    EXPECT_LE(seen, 8);
}

TEST(SetFolderCompression, WithoutRecursionOnlyTheFolderAndItsOwnFiles) {
    FakeFileSystem fs;
    BuildSwitchTree(fs);
    EXPECT_TRUE(SetFolderCompression(fs, P("/w"), false, false));
    EXPECT_EQ(fs.switches, (Switches{P("+/w/"), P("+/w/f1"), P("+/w/f2")}));
    EXPECT_FALSE(fs.Find(P("/w/sub/g1"))->attributes & attr::kCompressed);
}

// The order of every walk: a folder, its files, then its sub-folders, each in listing order.
TEST(SetFolderCompression, WithRecursionEachFolderBeforeItsContentsInListingOrder) {
    FakeFileSystem fs;
    BuildSwitchTree(fs);
    EXPECT_TRUE(SetFolderCompression(fs, P("/w/"), true, true));
    EXPECT_EQ(fs.switches, (Switches{P("-/w/"), P("-/w/f1"), P("-/w/f2"), P("-/w/sub/"),
                                     P("-/w/sub/g1"), P("-/w/sub/inner/"), P("-/w/sub/inner/h1"),
                                     P("-/w/.git/"), P("-/w/.git/k")}));
}

TEST(SetFolderCompression, TrailingSeparatorMakesNoDifference) {
    FakeFileSystem with;
    FakeFileSystem without;
    BuildSwitchTree(with);
    BuildSwitchTree(without);
    EXPECT_EQ(SetFolderCompression(with, P("/w/"), false, true),
              SetFolderCompression(without, P("/w"), false, true));
    EXPECT_EQ(with.switches, without.switches);
}

TEST(SetFolderCompression, FirstFailureStopsTheWholeWalkWithoutRollback) {
    FakeFileSystem fs;
    BuildSwitchTree(fs);
    fs.Find(P("/w/sub/g1"))->failSwitch = true;
    CompressionFailure failure;
    EXPECT_FALSE(SetFolderCompression(fs, P("/w/"), false, true, &failure));
    // Done before the failure stays done; nothing after it in this or any enclosing folder.
    EXPECT_EQ(fs.switches, (Switches{P("+/w/"), P("+/w/f1"), P("+/w/f2"), P("+/w/sub/")}));
    EXPECT_TRUE(fs.Find(P("/w/f1"))->attributes & attr::kCompressed);
    EXPECT_FALSE(fs.Find(P("/w/.git/k"))->attributes & attr::kCompressed);
    // The entry and the back end's reason, also for a single file and a stopped walk.
    EXPECT_EQ(failure.path, P("sub/g1"));
    EXPECT_EQ(failure.reason, "refused by the test");
    EXPECT_FALSE(SetFileCompression(fs, P("/w/sub/g1"), false, &failure));
    EXPECT_EQ(failure.path, P("/w/sub/g1"));
    EXPECT_EQ(failure.reason, "refused by the test");
    fs.switches.clear();
    const std::atomic<bool> stop{true};
    EXPECT_FALSE(SetFolderCompression(fs, P("/w/"), true, true, &failure, &stop));
    EXPECT_EQ(fs.switches, Switches{P("-/w/")});
}

TEST(SetFolderCompression, SecondOfThreeFilesFailing) {
    FakeFileSystem fs;
    auto& three = fs.Root().Folder("three");
    three.File("one", 1).File("two", 1).File("three", 1);
    fs.Find(P("/three/two"))->failSwitch = true;
    EXPECT_FALSE(SetFolderCompression(fs, P("/three"), false, false));
    EXPECT_EQ(fs.switches, (Switches{P("+/three/"), P("+/three/one")}));
}

TEST(SetFolderCompression, AFolderThatCannotBeSwitchedIsLeftAlone) {
    FakeFileSystem fs;
    BuildSwitchTree(fs);
    fs.Find(P("/w"))->failSwitch = true;
    EXPECT_FALSE(SetFolderCompression(fs, P("/w"), false, true));
    EXPECT_TRUE(fs.switches.empty());
}

TEST(SetFolderCompression, EmptyUnlistableAndMissingFolders) {
    FakeFileSystem fs;
    fs.Root().Folder("empty");
    EXPECT_TRUE(SetFolderCompression(fs, P("/empty"), false, true));
    EXPECT_EQ(fs.switches, Switches{P("+/empty/")});
    EXPECT_FALSE(SetFolderCompression(fs, P("/missing"), false, true));
}

TEST(CompressionSwitches, NothingHappensWithoutThePlatformsCompressionCalls) {
    FakeFileSystem fs;
    BuildSwitchTree(fs);
    fs.compressionAvailable = false;
    EXPECT_FALSE(SetFolderCompression(fs, P("/w"), false, true));
    EXPECT_FALSE(SetFileCompression(fs, P("/w/f1"), false));
    EXPECT_TRUE(fs.switches.empty());
}

TEST(ScanProgress, NamesTheLastFolderEnteredAndIsWholeUnderConcurrentWrites) {
    FakeFileSystem fs;
    BuildTree(fs);
    ScanProgress progress;
    EXPECT_EQ(progress.CurrentScanFolder(), "");
    GetFolderSizes(fs, P("/data/"), kMeasure, nullptr, &progress);
    EXPECT_EQ(progress.CurrentScanFolder(), P("/data/..odd/"));

    const std::string a(1000, 'a');
    const std::string b(3000, 'b');
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            progress.SetCurrentScanFolder(i % 2 ? a : b);
        }
        done = true;
    });
    while (!done) {
        const std::string seen = progress.CurrentScanFolder();
        ASSERT_TRUE(seen == a || seen == b || seen == P("/data/..odd/"));
    }
    writer.join();
}

}  // namespace
}  // namespace packmeter
