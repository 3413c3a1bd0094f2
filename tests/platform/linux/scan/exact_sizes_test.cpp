// Exact sizes on real volumes: on-disk bytes beyond the logical size, folders whose names begin
// with two full stops, hard links counted once, and the same results on any number of threads.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/scan/folder_walk.hpp"
#include "core/scan/scan.hpp"
#include "core/scan/tree_measurer.hpp"
#include "core/utils/compression.hpp"
#include "platform/system.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;

class ExactSizesTest : public ::testing::Test {
  protected:
    TestArea area_;
};

// A file that does not compress, in a folder marked compressed, takes whole clusters (btrfs:
// one 64 KiB extent; NTFS: one 64 KiB compression unit stored plainly), as a plain file does:
// it shows its size and no loss, in its row, its folder's row and the totals.
TEST_F(ExactSizesTest, IncompressibleFileInACompressedFolderShowsNoLoss) {
    for (const VolumeType type : {VolumeType::kBtrfs, VolumeType::kNtfs}) {
        PACKMETER_VOLUME_OR_SKIP(area_, type, root);
        const std::string top = root + "/sizes/";
        fs::create_directories(top + "packed");
        ASSERT_TRUE(SetFolderCompression(*MakeFileSystem(), top + "packed", false, false));
        WriteFile(top + "packed/random", Incompressible(64000));
        RunCommand({"sync"});
        const std::int64_t real = type == VolumeType::kBtrfs
                                      ? CompsizeBytes(top + "packed/random")
                                      : AllocatedBytes(top + "packed/random");
        EXPECT_EQ(real, 65536);

        SCOPED_TRACE(type == VolumeType::kBtrfs ? "btrfs" : "ntfs-3g");
        const ScanResult inner = ScanFolder(top + "packed");
        EXPECT_EQ(inner.Row("random").onDisk, 64000);
        EXPECT_EQ(inner.Row("random").ratioText, "0 %");
        EXPECT_EQ(inner.Row("random").StateIndex(), kStateCompressed);
        const ScanResult outer = ScanFolder(top);
        EXPECT_EQ(outer.Row("packed").onDisk, 64000);  // the walk below agrees with the row
        EXPECT_EQ(outer.Row("packed").ratioText, "0 %");
        EXPECT_EQ(outer.totals.onDisk, 64000);
        EXPECT_EQ(WalkSizes(top).onDisk, 64000);
    }
}

TEST_F(ExactSizesTest, FolderWhoseNameBeginsWithTwoFullStopsIsListedMeasuredAndCompressed) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/dots/";
    fs::create_directories(top + "..data/..deeper");
    WriteFile(top + "..data/a.txt", Compressible(50000));
    WriteFile(top + "..data/..deeper/b.txt", Compressible(30000));

    const ScanResult scan = ScanFolder(top);
    ASSERT_EQ(scan.rows.size(), 1u);
    EXPECT_EQ(scan.Row("..data").size, 80000);
    EXPECT_EQ(scan.totals.size, 80000);

    EXPECT_TRUE(SwitchAsCommand(top, false).empty());
    RunCommand({"sync"});
    EXPECT_LT(CompsizeBytes(top + "..data/..deeper/b.txt"), 30000 / 3);
    EXPECT_EQ(ScanFolder(top).Row("..data").StateIndex(), kStateCompressed + kFolderFlag);
}

TEST_F(ExactSizesTest, FileWithThreeLinksCountsOnceInTheTotalsAndInEachFolderThatHoldsOne) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/links/";
    fs::create_directories(top + "a");
    fs::create_directories(top + "b/deep");
    WriteFile(top + "a/one", Compressible(100000));
    ASSERT_EQ(::link((top + "a/one").c_str(), (top + "b/two").c_str()), 0);
    ASSERT_EQ(::link((top + "a/one").c_str(), (top + "b/deep/three").c_str()), 0);
    WriteFile(top + "b/own", Compressible(5000));
    WriteFile(top + "top.txt", Compressible(700));

    const ScanResult scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("a").size, 100000);
    EXPECT_EQ(scan.Row("b").size, 105000);
    EXPECT_EQ(scan.totals.size, 105700);
    EXPECT_EQ(WalkSizes(top).logical, 105700);
    EXPECT_EQ(ScanFolder(top + "b/deep").Row("three").size, 100000);  // its own row: its sizes
}

// About the benchmark's shape, smaller: folders of files three levels deep, hard links across
// them, one large flat folder; the scan's rows and totals on 1 to 8 threads equal the
// sequential walk of each folder.
TEST_F(ExactSizesTest, ScanOnAnyNumberOfThreadsEqualsTheSequentialWalk) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfsZstd, root);
    const std::string top = root + "/tree/";
    int made = 0;
    for (int a = 0; a < 6; ++a) {
        for (int b = 0; b < 8; ++b) {
            const std::string folder = top + "d" + std::to_string(a) + "/e" + std::to_string(b);
            fs::create_directories(folder + "/f");
            for (int i = 0; i < 12; ++i, ++made) {
                const std::string file = folder + (i % 3 ? "/f/" : "/") + std::to_string(i);
                WriteFile(file, made % 4 ? Compressible(made * 97 % 20000) : Incompressible(3000));
                if (made % 29 == 0) {
                    ASSERT_EQ(::link(file.c_str(), (top + "link" + std::to_string(made)).c_str()),
                              0);
                    ASSERT_EQ(::link(file.c_str(), (folder + "/again").c_str()), 0);
                }
            }
        }
    }
    // A flat folder large enough to be stated and its extents read on several threads, with
    // files that are nothing but a hole among them.
    fs::create_directories(top + "d6");
    for (int i = 0; i < 1500; ++i) {
        WriteFile(top + "d6/" + std::to_string(i), Compressible(i * 7 % 3000 + i % 5 * 10000));
        if (i % 100 == 7) {
            ASSERT_EQ(::truncate((top + "d6/" + std::to_string(i)).c_str(), 0), 0);
            ASSERT_EQ(::truncate((top + "d6/" + std::to_string(i)).c_str(), i * 1000), 0);
        }
    }
    RunCommand({"sync"});
    const auto files = MakeFileSystem();
    EXPECT_EQ(AlgorithmLines(GetFolderSizes(*files, top + "d6").byAlgorithm),
              CompsizeLines(top + "d6"));
    FolderSizes sequential;
    for (int a = 0; a < 7; ++a) {
        sequential += GetFolderSizes(*files, top + "d" + std::to_string(a));
    }
    const ScanResult reference = ScanFolder(top);
    EXPECT_EQ(reference.totals.size, GetFolderSizes(*files, top).logical);
    EXPECT_EQ(reference.totals.onDisk, GetFolderSizes(*files, top).onDisk);
    for (const unsigned threads : {1u, 2u, 3u, 8u}) {
        struct Rows : ScanOutput {
            void ScanBusy(bool) override {}
            void AddRow(EntryRow row) override { rows.push_back(std::move(row)); }
            void SetTotals(ScanTotals t) override { totals = std::move(t); }
            std::vector<EntryRow> rows;
            ScanTotals totals;
        };
        const auto output = std::make_shared<Rows>();
        TScan scan(top, output, files);
        scan.SetWalkThreads(threads);
        scan.Execute();
        ASSERT_EQ(output->rows.size(), reference.rows.size()) << threads;
        FolderSizes folders;
        for (std::size_t i = 0; i < output->rows.size(); ++i) {
            const EntryRow& row = output->rows[i];
            EXPECT_EQ(row.name, reference.rows[i].name) << threads;
            if (row.IsFolder()) {
                EXPECT_EQ((FolderSizes{row.size, row.onDisk, 0, row.byAlgorithm}),
                          GetFolderSizes(*files, top + row.name))
                    << row.name << ", " << threads << " threads";
                folders += {row.size, row.onDisk, 0, row.byAlgorithm};
            }
        }
        EXPECT_EQ(folders, sequential) << threads;
        EXPECT_EQ(output->totals.size, reference.totals.size) << threads;
        EXPECT_EQ(output->totals.onDisk, reference.totals.onDisk) << threads;
    }
}

}  // namespace
}  // namespace packmeter::testing
