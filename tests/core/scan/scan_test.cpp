#include "core/scan/scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::P;

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kGiB = 1024 * 1024 * 1024;

// Records what a scan hands over, in order.
class Recorder : public ScanOutput {
  public:
    void ScanBusy(bool busy) override { Log(busy ? "busy" : "idle"); }
    void AddRow(EntryRow row) override {
        Log("row " + row.Caption());
        std::lock_guard guard(lock_);
        rows.push_back(std::move(row));
    }
    void SetTotals(ScanTotals t) override {
        Log("totals");
        std::lock_guard guard(lock_);
        totals = std::move(t);
    }
    const EntryRow& Row(const std::string& caption) const {
        for (const auto& row : rows) {
            if (row.Caption() == caption) {
                return row;
            }
        }
        throw std::runtime_error("no row " + caption);
    }

    std::vector<std::string> events;
    std::vector<EntryRow> rows;
    ScanTotals totals;

  private:
    void Log(std::string event) {
        std::lock_guard guard(lock_);
        events.push_back(std::move(event));
    }
    std::mutex lock_;
};

std::shared_ptr<Recorder> RunScan(std::shared_ptr<FakeFileSystem> fs, const std::string& folder,
                                  unsigned threads = 0) {
    auto out = std::make_shared<Recorder>();
    TScan scan(folder, out, fs);
    if (threads > 0) {
        scan.SetWalkThreads(threads);
    }
    scan.Execute();
    EXPECT_TRUE(scan.Finished());
    return out;
}

TEST(TScan, FoldersFirstThenFilesThenTotalsInListingOrder) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& top = fs->Root().Folder("top");
    top.File("z.txt", 2048);
    top.Folder("b").File("x", 4096);
    top.File("a.txt", 1024);
    top.Folder("a").File("y", 1024);
    top.Folder(".git");
    top.Folder("..dots").File("hidden", 999999);
    top.File("..dots-file", 10);
    auto out = RunScan(fs, P("/top"));
    EXPECT_EQ(out->events, (std::vector<std::string>{"busy", "row b", "row a", "row .git",
                                                     "row ..dots", "row z.txt", "row a.txt",
                                                     "row ..dots-file", "totals", "idle"}));
    EXPECT_EQ(out->Row("..dots").size, 999999);
    EXPECT_EQ(out->totals.size, 2048 + 4096 + 1024 + 1024 + 999999 + 10);
    EXPECT_EQ(out->totals.ratioText, "0 %");
}

TEST(TScan, AFileWithSeveralLinksCountsOnceInEachFolderRowAndInTheTotals) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& top = fs->Root().Folder("top");
    const auto linked = [](testing::FakeNode& folder, const std::string& name, std::uint64_t id,
                           std::uint32_t links, std::int64_t size) {
        folder.File(name, size, size / 2);
        folder.Child(name)->links = links;
        folder.Child(name)->fileId = id;
    };
    // File 1 has three names in two sub-folders, file 2 one in a sub-folder and one on top.
    auto& a = top.Folder("a");
    linked(a, "x", 1, 3, 4000);
    a.File("plain", 100);
    auto& b = top.Folder("b");
    linked(b, "y", 1, 3, 4000);
    linked(b.Folder("deep"), "z", 1, 3, 4000);
    linked(b, "w", 2, 2, 600);
    linked(top, "w2", 2, 2, 600);
    for (const unsigned threads : {1u, 3u}) {
        auto out = std::make_shared<Recorder>();
        TScan scan(P("/top"), out, fs);
        scan.SetWalkThreads(threads);
        scan.Execute();
        EXPECT_EQ(out->Row("a").size, 4100) << threads;
        EXPECT_EQ(out->Row("b").size, 4600) << threads;
        EXPECT_EQ(out->Row("b").onDisk, 2300) << threads;
        EXPECT_EQ(out->Row("w2").size, 600) << threads;  // a file's row shows its own sizes
        EXPECT_EQ(out->totals.size, 4000 + 100 + 600) << threads;
        EXPECT_EQ(out->totals.onDisk, 2000 + 100 + 300) << threads;
    }
}

TEST(TScan, RowsCarryStateTextsAndRatio) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& d = fs->Root().Folder("d");
    d.File("empty", 0);
    d.File("tiny", 1023);
    d.File("zipped-no-gain", 8 * kKiB, 8 * kKiB, attr::kCompressed);
    d.File("sparse", 8 * kKiB, 8 * kKiB, attr::kSparse);
    d.File("grown", 100 * kKiB, 103 * kKiB);
    d.File("twelve", 8 * kKiB, 7 * kKiB);
    d.File("thirty-eight", 8 * kKiB, 5 * kKiB);
    d.File("huge", 5 * kGiB);
    d.Folder("partly").File("c", 8 * kKiB, 2 * kKiB, attr::kCompressed).File("p", 8 * kKiB);
    d.Folder("marked", attr::kCompressed);
    auto out = RunScan(fs, P("/d/"));

    const EntryRow& empty = out->Row("empty");
    EXPECT_EQ(empty.SizeTexts().size, "0 KB");
    EXPECT_EQ(empty.SizeTexts().compressed, "0 KB");
    EXPECT_EQ(empty.RatioText(), "0 %");
    EXPECT_EQ(empty.StateIndex(), kStatePlain);
    EXPECT_EQ(out->Row("tiny").SizeTexts().size, "0 KB");
    EXPECT_EQ(out->Row("zipped-no-gain").StateIndex(), kStateCompressed);
    EXPECT_EQ(out->Row("zipped-no-gain").RatioText(), "0 %");
    EXPECT_EQ(out->Row("sparse").StateIndex(), kStateCompressed);
    EXPECT_EQ(out->Row("grown").RatioText(), "-3 %");
    EXPECT_EQ(out->Row("grown").StateIndex(), kStatePlain);
    EXPECT_EQ(out->Row("twelve").RatioText(), "12 %");
    EXPECT_EQ(out->Row("twelve").StateIndex(), kStatePartly);
    EXPECT_EQ(out->Row("thirty-eight").RatioText(), "38 %");
    EXPECT_EQ(out->Row("huge").SizeTexts().size, "5120 MB");
    EXPECT_EQ(out->Row("partly").StateIndex(), kStatePartly + kFolderFlag);
    EXPECT_EQ(out->Row("partly").RatioText(), "38 %");
    EXPECT_EQ(out->Row("marked").StateIndex(), kStateCompressed + kFolderFlag);
    EXPECT_EQ(out->Row("marked").iconIndex, -1);
}

TEST(TScan, LinksAndMountPointsAreRowsOfTheirOwnWithZeroBytes) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& d = fs->Root().Folder("d");
    d.Link("to-dir", true).Link("to-file", false).MountPoint("mnt").File("f", 4096);
    auto out = RunScan(fs, P("/d"));
    ASSERT_EQ(out->rows.size(), 4u);
    EXPECT_EQ(out->rows[0].Caption(), "to-dir");
    EXPECT_TRUE(out->rows[0].IsFolder());
    EXPECT_EQ(out->rows[1].Caption(), "mnt");
    EXPECT_EQ(out->rows[1].size, 0);
    EXPECT_EQ(out->rows[2].Caption(), "to-file");
    EXPECT_FALSE(out->rows[2].IsFolder());
    EXPECT_EQ(out->totals.size, 4096);
}

TEST(TScan, MissingOrUnreadableFolderGivesNoRowsAndZeroTotals) {
    auto fs = std::make_shared<FakeFileSystem>();
    fs->Root().Folder("locked").unreadable = true;
    for (const char* path : {"/missing/", "/locked/"}) {
        auto out = RunScan(fs, P(path));
        EXPECT_TRUE(out->rows.empty());
        EXPECT_EQ(out->totals.sizeText, "0 Bytes");
        EXPECT_EQ(out->totals.onDiskText, "0 Bytes");
        EXPECT_EQ(out->totals.ratioText, "0 %");
    }
}

TEST(TScan, EntriesThatCannotBeReadAreCountedPerRowAndInTheTotals) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& d = fs->Root().Folder("d");
    d.Folder("locked").File("x", 100).unreadable = true;
    auto& partly = d.Folder("partly");
    partly.File("a", 1000);
    partly.Folder("closed1").unreadable = true;
    partly.Folder("deeper").Folder("closed2").unreadable = true;
    d.File("f", 10);
    for (unsigned threads : {1u, 4u}) {
        auto out = RunScan(fs, P("/d"), threads);
        ASSERT_EQ(out->rows.size(), 3u);
        EXPECT_EQ(out->rows[0].Caption(), "locked");
        EXPECT_EQ(out->rows[0].unreadable, 1);
        EXPECT_EQ(out->rows[0].size, 0);
        EXPECT_EQ(out->rows[1].unreadable, 2);
        EXPECT_EQ(out->rows[1].size, 1000);
        EXPECT_EQ(out->rows[2].unreadable, 0);
        EXPECT_EQ(out->totals.unreadable, 3) << threads;
    }
}

TEST(TScan, NamesThatAreNotUtf8KeepTheirBytesForTheFileSystem) {
    auto fs = std::make_shared<FakeFileSystem>();
    fs->Root().Folder("d").File("bad\xff.txt", 10).File("\xce\xb1\xce\xb2\xe6\xbc\xa2", 10);
    auto out = RunScan(fs, P("/d"));
    ASSERT_EQ(out->rows.size(), 2u);
    EXPECT_EQ(out->rows[0].name, "bad\xff.txt");
    EXPECT_EQ(out->rows[0].Caption(), "bad\xEF\xBF\xBD.txt");
    EXPECT_EQ(out->rows[1].Caption(), out->rows[1].name);
}

TEST(TScan, AStoppedScanHandsNothingMoreToItsOutputAndLeavesItsWalk) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& d = fs->Root().Folder("d");
    d.Folder("first").File("x", 1);
    d.Folder("second").Folder("deep").File("y", 1);
    d.Folder("third").File("z", 1);
    d.File("file", 1).File("file2", 1);
    const struct {
        const char* stopAt;  // the stop comes while the walk lists this entry ...
        int sighting;        // ... for this time
        std::vector<std::string> events;
        std::vector<std::string> neverListed;
    } cases[] = {
        // Inside a sub-folder's tree: its row is not handed over, nothing deeper is entered.
        {"/d/second/deep", 1, {"busy", "row first"}, {"/d/second/deep/y", "/d/third/z"}},
        // While the folder itself is listed: no row, no sub-folder entered.
        {"/d/third", 1, {"busy"}, {"/d/first/x", "/d/third/z"}},
        // In the file pass.
        {"/d/file2", 2, {"busy", "row first", "row second", "row third", "row file"}, {}},
    };
    for (const auto& c : cases) {
        auto out = std::make_shared<Recorder>();
        TScan scan(P("/d/"), out, fs);
        scan.SetWalkThreads(1);
        int sightings = 0;
        std::vector<std::string> listed;
        fs->onEntry = [&](const std::string& path) {
            listed.push_back(path);
            if (path == P(c.stopAt) && ++sightings == c.sighting) {
                scan.Terminate();
            }
        };
        scan.Execute();
        fs->onEntry = nullptr;
        EXPECT_TRUE(scan.Finished());
        EXPECT_EQ(out->events, c.events) << c.stopAt;
        for (const std::string& path : c.neverListed) {
            EXPECT_EQ(std::count(listed.begin(), listed.end(), P(path)), 0) << c.stopAt << path;
        }
    }
}

TEST(TScan, DestroyingARunningScanStopsAndJoinsIt) {
    auto fs = std::make_shared<FakeFileSystem>();
    auto& d = fs->Root().Folder("d");
    for (int i = 0; i < 200; ++i) {
        d.Folder("f" + std::to_string(i)).File("x", 1);
    }
    auto out = std::make_shared<Recorder>();
    {
        TScan scan(P("/d"), out, fs);
        scan.Start();
    }
    // Whatever arrived before the stop came in order; nothing after the destructor returned.
    const auto seen = out->events.size();
    if (seen > 0) {
        EXPECT_EQ(out->events.front(), "busy");
    }
    // On a loaded machine the worker may finish before the destructor asks it to stop: then its
    // totals came once, before it went idle.
    EXPECT_LE(std::count(out->events.begin(), out->events.end(), "totals"), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(out->events.size(), seen);
}

}  // namespace
}  // namespace packmeter
