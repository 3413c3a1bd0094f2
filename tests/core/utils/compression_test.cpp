#include "core/utils/compression.hpp"

#include <gtest/gtest.h>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::BuildSwitchTree;
using testing::FakeFileSystem;
using testing::P;
using Switches = std::vector<std::string>;

TEST(SetFileCompression, FilesOnlyAndRepeatsAreHarmless) {
    FakeFileSystem fs;
    BuildSwitchTree(fs);
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
