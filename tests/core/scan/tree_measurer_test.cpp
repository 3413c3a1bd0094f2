#include "core/scan/tree_measurer.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::FakeNode;
using testing::P;

// A wide and a lopsided (one long chain) part, with files of distinct sizes at every level;
// every 17th file is one more name of a file with links all over the forest.
void Grow(FakeNode& node, int depth, int width, std::int64_t& seed) {
    for (int i = 0; i < 3; ++i) {
        ++seed;
        node.File("f" + std::to_string(i), seed * 7, seed * 3);
        if (seed % 17 == 0) {
            FakeNode& file = *node.Child("f" + std::to_string(i));
            file.size = 5000;
            file.onDisk = 4000;
            file.links = 9;
            file.fileId = 1 + seed % 3;
        }
    }
    if (depth == 0) {
        return;
    }
    for (int i = 0; i < width; ++i) {
        Grow(node.Folder("d" + std::to_string(i)), depth - 1, width, seed);
    }
}

FakeFileSystem& Forest() {
    static FakeFileSystem fs;
    static bool grown = false;
    if (!grown) {
        std::int64_t seed = 0;
        auto& top = fs.Root().Folder("top");
        Grow(top.Folder("wide"), 4, 5, seed);
        FakeNode* chain = &top.Folder("chain");
        for (int i = 0; i < 300; ++i) {
            chain->File("c", ++seed);
            chain = &chain->Folder("next");
        }
        top.Link("loop", true);
        Grow(top.Folder("..dots"), 2, 3, seed);
        top.Folder("empty");
        grown = true;
    }
    return fs;
}

TEST(TreeMeasurer, SameSizesAsTheSequentialWalkWithAnyNumberOfThreads) {
    FakeFileSystem& fs = Forest();
    const std::vector<TreeRoot> roots = {
        {"wide", true}, {"chain", true}, {"loop", false}, {"..dots", true}, {"empty", true}};
    std::vector<FolderSizes> expected;
    for (const TreeRoot& root : roots) {
        expected.push_back(root.enterable ? GetFolderSizes(fs, P("/top/" + root.name + "/"))
                                          : FolderSizes{});
    }
    const FolderSizes whole = GetFolderSizes(fs, P("/top/"));
    ASSERT_GT(expected[0].logical, 0);
    for (const unsigned threads : {1u, 2u, 4u, 8u}) {
        TreeMeasurer measurer(threads);
        for (int round = 0; round < 3; ++round) {
            const auto top = fs.OpenFolder(P("/top/"));
            std::vector<FolderSizes> measured;
            LinkedFiles all;
            FolderSizes sum;
            measurer.MeasureAll(
                *top, P("/top/"), roots, nullptr, nullptr, all,
                [&](std::size_t index, const FolderSizes& sizes, const FolderSizes& newToAll) {
                    EXPECT_EQ(index, measured.size());
                    measured.push_back(sizes);
                    sum += newToAll;
                });
            EXPECT_EQ(measured, expected) << threads << " threads";
            // The forest's linked files count once in the sum of its trees.
            EXPECT_EQ(sum.logical, whole.logical) << threads << " threads";
            EXPECT_EQ(sum.onDisk, whole.onDisk) << threads << " threads";
            LinkedFiles links;
            EXPECT_EQ(measurer.Measure(*top, P("/top/"), nullptr, nullptr, links), whole)
                << threads << " threads";
            EXPECT_EQ(links.Size(), 3u);
        }
    }
}

TEST(TreeMeasurer, GivesUpOnceStoppedInTheMiddleAndReportsNothingMore) {
    FakeFileSystem fs;
    auto& top = fs.Root().Folder("top");
    for (int i = 0; i < 20; ++i) {
        auto& folder = top.Folder("t" + std::to_string(i));
        for (int j = 0; j < 50; ++j) {
            folder.Folder("s" + std::to_string(j)).File("x", 10);
        }
    }
    std::vector<TreeRoot> roots;
    for (int i = 0; i < 20; ++i) {
        roots.push_back({"t" + std::to_string(i), true});
    }
    StopFlag stop{false};
    std::atomic<int> seen{0};
    fs.onEntry = [&](const std::string&) {
        if (++seen == 300) {
            stop = true;
        }
    };
    TreeMeasurer measurer(4);
    const auto folder = fs.OpenFolder(P("/top/"));
    std::size_t reported = 0;
    LinkedFiles all;
    measurer.MeasureAll(*folder, P("/top/"), roots, &stop, nullptr, all,
                        [&](std::size_t, const FolderSizes&, const FolderSizes&) { ++reported; });
    EXPECT_LT(reported, 5u);
    EXPECT_LT(seen.load(), 400);
}

}  // namespace
}  // namespace packmeter
