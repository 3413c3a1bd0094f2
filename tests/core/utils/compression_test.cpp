#include "core/utils/compression.hpp"

#include <gtest/gtest.h>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::P;
using Switches = std::vector<std::string>;

// /w: f1, sub/ (g1, inner/ (h1)), f2, .git/ (k), a link to a file, a link to a folder, a fifo.
void BuildTree(FakeFileSystem& fs) {
    auto& w = fs.Root().Folder("w");
    w.File("f1", 10);
    auto& sub = w.Folder("sub");
    sub.File("g1", 10);
    sub.Folder("inner").File("h1", 10);
    w.File("f2", 10);
    w.Folder(".git").File("k", 1);
    w.Link("to-file", false);
    w.Link("to-folder", true);
    w.Special("fifo");
}

TEST(SetFolderCompression, WithoutRecursionOnlyTheFolderAndItsOwnFiles) {
    FakeFileSystem fs;
    BuildTree(fs);
    EXPECT_TRUE(SetFolderCompression(fs, P("/w"), false, false));
    EXPECT_EQ(fs.switches, (Switches{P("+/w/"), P("+/w/f1"), P("+/w/f2")}));
    EXPECT_FALSE(fs.Find(P("/w/sub/g1"))->attributes & attr::kCompressed);
}

TEST(SetFolderCompression, WithRecursionEachFolderBeforeItsContentsInListingOrder) {
    FakeFileSystem fs;
    BuildTree(fs);
    EXPECT_TRUE(SetFolderCompression(fs, P("/w/"), true, true));
    EXPECT_EQ(fs.switches,
              (Switches{P("-/w/"), P("-/w/f1"), P("-/w/sub/"), P("-/w/sub/g1"), P("-/w/sub/inner/"),
                        P("-/w/sub/inner/h1"), P("-/w/f2"), P("-/w/.git/"), P("-/w/.git/k")}));
}

TEST(SetFolderCompression, TrailingSeparatorMakesNoDifference) {
    FakeFileSystem with;
    FakeFileSystem without;
    BuildTree(with);
    BuildTree(without);
    EXPECT_EQ(SetFolderCompression(with, P("/w/"), false, true),
              SetFolderCompression(without, P("/w"), false, true));
    EXPECT_EQ(with.switches, without.switches);
}

TEST(SetFolderCompression, FirstFailureStopsTheWholeWalkWithoutRollback) {
    FakeFileSystem fs;
    BuildTree(fs);
    fs.Find(P("/w/sub/g1"))->failSwitch = true;
    CompressionFailure failure;
    EXPECT_FALSE(SetFolderCompression(fs, P("/w/"), false, true, &failure));
    // Done before the failure stays done; nothing after it in this or any enclosing folder.
    EXPECT_EQ(fs.switches, (Switches{P("+/w/"), P("+/w/f1"), P("+/w/sub/")}));
    EXPECT_TRUE(fs.Find(P("/w/f1"))->attributes & attr::kCompressed);
    EXPECT_FALSE(fs.Find(P("/w/f2"))->attributes & attr::kCompressed);
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
    BuildTree(fs);
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
    BuildTree(fs);
    fs.compressionAvailable = false;
    EXPECT_FALSE(SetFolderCompression(fs, P("/w"), false, true));
    EXPECT_FALSE(SetFileCompression(fs, P("/w/f1"), false));
    EXPECT_TRUE(fs.switches.empty());
}

TEST(SetFileCompression, FilesOnlyAndRepeatsAreHarmless) {
    FakeFileSystem fs;
    BuildTree(fs);
    EXPECT_TRUE(SetFileCompression(fs, P("/w/f1"), false));
    EXPECT_TRUE(SetFileCompression(fs, P("/w/f1"), false));
    EXPECT_TRUE(fs.Find(P("/w/f1"))->attributes & attr::kCompressed);
    EXPECT_FALSE(SetFileCompression(fs, P("/w/sub"), false));
    EXPECT_FALSE(SetFileCompression(fs, P("/w/missing"), false));
    EXPECT_FALSE(SetFileCompression(fs, P("/w/to-file"), false));
    EXPECT_EQ(fs.switches, (Switches{P("+/w/f1"), P("+/w/f1")}));
}

TEST(PathHelpers, ExcludedNamesAndSplitting) {
    EXPECT_TRUE(IsExcludedFolderName("."));
    EXPECT_TRUE(IsExcludedFolderName(".."));
    EXPECT_FALSE(IsExcludedFolderName("..x"));
    EXPECT_FALSE(IsExcludedFolderName(".git"));
    EXPECT_FALSE(IsExcludedFolderName("a.."));
    EXPECT_FALSE(IsExcludedFolderName(""));

    auto parts = SplitPath(P("/a/b/c"));
    EXPECT_EQ(parts.parent, P("/a/b/"));
    EXPECT_EQ(parts.name, "c");
    parts = SplitPath(P("/a/b/"));
    EXPECT_EQ(parts.parent, P("/a/"));
    EXPECT_EQ(parts.name, "b");
    parts = SplitPath("name");
    EXPECT_EQ(parts.parent, "");
    EXPECT_EQ(parts.name, "name");
}

}  // namespace
}  // namespace packmeter
