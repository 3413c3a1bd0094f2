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
