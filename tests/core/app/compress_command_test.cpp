#include "core/app/compress_command.hpp"

#include <gtest/gtest.h>

#include "core/app/volume_line.hpp"
#include "core/utils/version_text.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::P;

TEST(CompressEntry, AFileIsSwitchedAndItsRowRemeasured) {
    FakeFileSystem fs;
    fs.Root().Folder("d").File("f", 8192, 2048);
    auto done = CompressEntry(fs, P("/d/"), "f", false);
    ASSERT_TRUE(done.row);
    EXPECT_EQ(done.outcome, CompressOutcome::kDone);
    EXPECT_EQ(done.row->StateIndex(), kStateCompressed);
    EXPECT_EQ(done.row->sizeText, "8 KB");
    EXPECT_EQ(done.row->onDiskText, "2 KB");
    EXPECT_EQ(done.row->ratioText, "75 %");
    EXPECT_EQ(fs.switches, std::vector<std::string>{P("+/d/f")});
}

TEST(CompressEntry, AFolderGoesThroughTheWalkAndKeepsItsFolderFlag) {
    FakeFileSystem fs;
    auto& tree = fs.Root().Folder("d").Folder("tree");
    tree.File("a", 4096).Folder("sub").File("b", 4096);
    auto done = CompressEntry(fs, P("/d/"), "tree", false);
    ASSERT_TRUE(done.row);
    EXPECT_EQ(done.row->StateIndex(), kStateCompressed + kFolderFlag);
    EXPECT_EQ(done.row->size, 8192);
    EXPECT_EQ(fs.switches, (std::vector<std::string>{P("+/d/tree/"), P("+/d/tree/a"),
                                                     P("+/d/tree/sub/"), P("+/d/tree/sub/b")}));
    // A failure inside a folder tree is named with its reason, and the walk goes on with the
    // rest of the tree.
    fs.Find(P("/d/tree/sub"))->failSwitch = true;
    tree.Folder("later").File("c", 10);
    fs.switches.clear();
    std::vector<CompressionFailure> failures;
    done = CompressEntry(fs, P("/d/"), "tree", true, -1, &failures);
    EXPECT_EQ(done.outcome, CompressOutcome::kDone);
    EXPECT_TRUE(done.row);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, P("/d/tree/sub/"));
    EXPECT_EQ(failures[0].reason, "refused by the test");
    EXPECT_EQ(fs.switches,
              (std::vector<std::string>{P("-/d/tree/"), P("-/d/tree/a"), P("-/d/tree/sub/b"),
                                        P("-/d/tree/later/"), P("-/d/tree/later/c")}));
}

TEST(CompressEntry, AFileThatCannotBeSwitchedEndsTheCommand) {
    FakeFileSystem fs;
    fs.Root().Folder("d").File("locked", 10);
    fs.Find(P("/d/locked"))->failSwitch = true;
    EXPECT_EQ(CompressEntry(fs, P("/d/"), "locked", false).outcome, CompressOutcome::kFailed);
    EXPECT_EQ(CompressEntry(fs, P("/d/"), "gone", false).outcome, CompressOutcome::kFailed);
    fs.compressionAvailable = false;
    fs.Root().Child("d")->File("free", 10);
    EXPECT_EQ(CompressEntry(fs, P("/d/"), "free", false).outcome, CompressOutcome::kFailed);
}

// Every file of a large folder: the folder is listed once before and once for the rows, not
// once per file; a folder among them is measured over its tree.
TEST(CompressEntries, ManyFilesOfOneFolderCostTwoListings) {
    FakeFileSystem fs;
    auto& d = fs.Root().Folder("d");
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back("f" + std::to_string(i));
        d.File(names.back(), 100 + i);
    }
    struct Rows : CompressListener {
        void Switching(const std::string&) override {}
        void Switched(const std::string&, std::int64_t, bool) override {}
        void Measured(std::size_t index, EntryRow row) override {
            indexes.push_back(index);
            states.push_back(row.StateIndex());
        }
        std::vector<std::size_t> indexes;
        std::vector<int> states;
    } rows;
    fs.listings = 0;
    EXPECT_EQ(CompressEntries(fs, P("/d/"), names, false, nullptr, rows, std::chrono::hours(1)),
              CompressOutcome::kDone);
    EXPECT_EQ(fs.listings.load(), 2);
    ASSERT_EQ(rows.indexes.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(rows.indexes[i], i);
        EXPECT_EQ(rows.states[i], kStateCompressed);
    }
    EXPECT_EQ(CountEntries(fs, P("/d/"), names).entries, 300);
}

TEST(RowsAndTotals, RatioRoundsHalfToEvenAndTotalsUseLocaleSeparators) {
    EXPECT_EQ(RatioPercent(0, 0), 0);
    EXPECT_EQ(RatioPercent(0, 4096), 0);
    EXPECT_EQ(RatioPercent(8192, 7168), 12);  // 12.5
    EXPECT_EQ(RatioPercent(8192, 5120), 38);  // 37.5
    EXPECT_EQ(RatioPercent(200, 1), 100);     // 99.5
    EXPECT_EQ(RatioPercent(100, 103), -3);
    const auto totals = MakeScanTotals(12345678, 2345678, NumberFormat{".", ","});
    EXPECT_EQ(totals.sizeText, "12.056 KB");
    EXPECT_EQ(totals.onDiskText, "2.291 KB");
    EXPECT_EQ(totals.ratioText, "81 %");
    EXPECT_EQ(RowState(false, 10, 5), CompressionState::kPartly);
    EXPECT_EQ(RowState(true, 10, 50), CompressionState::kCompressed);
    EXPECT_EQ(RowState(false, 10, 10), CompressionState::kPlain);
}

TEST(VolumeLine, NamesTheFileSystemAndWhetherItCompresses) {
    EXPECT_EQ(VolumeLine({true, "NTFS", true, ""}),
              "File System: NTFS    (Supports file based compression)");
    EXPECT_EQ(VolumeLine({true, "ext4", false, ""}),
              "File System: ext4    (Doesn't support file based compression!!)");
    EXPECT_EQ(VolumeLine({}), "File System:     (Doesn't support file based compression!!)");
}

TEST(ComposeVersionString, ProductFirstAndFileInParentheses) {
    EXPECT_EQ(ComposeVersionString("1.2", "1.2.0.8", true), "1.2");
    EXPECT_EQ(ComposeVersionString("1.2", "1.2.0.8", false), "1.2   (1.2.0.8)");
    EXPECT_EQ(ComposeVersionString("", "1.2.0.8", true), "1.2.0.8");
    EXPECT_EQ(ComposeVersionString("1.2", "", false), "1.2");
    EXPECT_EQ(ComposeVersionString("", "", false), "");
}

}  // namespace
}  // namespace packmeter
