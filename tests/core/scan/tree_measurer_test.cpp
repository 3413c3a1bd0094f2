#include "core/scan/tree_measurer.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::FakeNode;
using testing::P;

// A wide and a lopsided (one long chain) part, with files of distinct sizes at every level.
void Grow(FakeNode& node, int depth, int width, std::int64_t& seed) {
    for (int i = 0; i < 3; ++i) {
        ++seed;
        node.File("f" + std::to_string(i), seed * 7, seed * 3);
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
        top.Folder("..skipped").File("x", 1000000);
        grown = true;
    }
    return fs;
}

TEST(TreeMeasurer, SameTotalsAsTheSequentialWalkWithAnyNumberOfThreads) {
    FakeFileSystem& fs = Forest();
    std::int64_t expectedLogical = 0;
    std::int64_t expectedOnDisk = 0;
    GetFolderSizes(fs, P("/top/"), expectedLogical, expectedOnDisk, kMeasure);
    ASSERT_GT(expectedLogical, 0);
    for (unsigned threads : {1u, 2u, 4u, 8u}) {
        TreeMeasurer measurer(threads);
        for (int round = 0; round < 3; ++round) {
            auto folder = fs.OpenFolder(P("/top/"));
            std::int64_t logical = 5;  // added to, not replaced
            std::int64_t onDisk = 5;
            measurer.Measure(*folder, P("/top/"), logical, onDisk, nullptr);
            EXPECT_EQ(logical, expectedLogical + 5) << threads << " threads";
            EXPECT_EQ(onDisk, expectedOnDisk + 5) << threads << " threads";
        }
    }
}

TEST(TreeMeasurer, GivesUpOnceStopped) {
    FakeFileSystem& fs = Forest();
    std::int64_t wholeLogical = 0;
    std::int64_t wholeOnDisk = 0;
    GetFolderSizes(fs, P("/top/"), wholeLogical, wholeOnDisk, kMeasure);
    for (unsigned threads : {1u, 4u}) {
        // The stop comes from inside the walk, at its 200th entry; every thread then leaves its
        // listings at their next entry.
        StopFlag stop{false};
        std::atomic<int> seen{0};
        std::atomic<int> seenAfterStop{0};
        fs.onEntry = [&](const std::string&) {
            if (stop.load()) {
                ++seenAfterStop;
            } else if (++seen == 200) {
                stop.store(true);
            }
        };
        TreeMeasurer measurer(threads);
        auto folder = fs.OpenFolder(P("/top/"));
        std::int64_t logical = 0;
        std::int64_t onDisk = 0;
        measurer.Measure(*folder, P("/top/"), logical, onDisk, &stop);
        fs.onEntry = nullptr;
        EXPECT_GT(logical, 0) << threads << " threads";
        EXPECT_LT(logical, wholeLogical) << threads << " threads";
        // At most one more entry for each folder open on each thread (the wide part is 6 deep)
        // and for each folder handed out but not yet begun.
        EXPECT_LE(seenAfterStop.load(), int(threads) * 7) << threads << " threads";
    }
}

}  // namespace
}  // namespace packmeter
