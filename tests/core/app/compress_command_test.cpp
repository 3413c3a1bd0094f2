#include "core/app/compress_command.hpp"

#include <gtest/gtest.h>

#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::FakeNode;
using testing::P;

TEST(CompressEntry, AFileIsSwitchedAndItsRowRemeasured) {
    FakeFileSystem fs;
    fs.Root().Folder("d").File("f", 8192, 2048);
    auto done = CompressEntry(fs, P("/d/"), "f", false);
    ASSERT_TRUE(done.row);
    EXPECT_EQ(done.outcome, CompressOutcome::kDone);
    EXPECT_EQ(done.row->StateIndex(), kStateCompressed);
    EXPECT_EQ(done.row->SizeTexts().size, "8 KB");
    EXPECT_EQ(done.row->SizeTexts().compressed, "2 KB");
    EXPECT_EQ(done.row->RatioText(), "75 %");
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

// The failure rule inside a tree: every entry is tried and every failure named, a folder that
// cannot be opened among them; the progress count goes through the same entries.
TEST(CompressEntries, EveryEntryOfATreeIsTriedAndEachFailureNamed) {
    struct Case {
        const char* plant;  // the entry below /d/tree that fails, and how
        bool unopenable;
        std::vector<std::string> failed;
        std::vector<std::string> switches;
    };
    const std::vector<Case> cases = {
        {"a", false, {"/d/tree/a"}, {"+/d/tree/", "+/d/tree/sub/", "+/d/tree/sub/b"}},
        {"sub", false, {"/d/tree/sub/"}, {"+/d/tree/", "+/d/tree/a", "+/d/tree/sub/b"}},
        {"sub", true, {"/d/tree/sub/"}, {"+/d/tree/", "+/d/tree/a"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.plant) + (test.unopenable ? " unopenable" : " refused"));
        FakeFileSystem fs;
        auto& tree = fs.Root().Folder("d").Folder("tree");
        tree.File("a", 4096).Folder("sub").File("b", 4096);
        (test.unopenable ? tree.Child(test.plant)->unreadable
                         : tree.Child(test.plant)->failSwitch) = true;
        struct Heard : CompressListener {
            void Switching(const std::string&) override {}
            void Switched(const std::string&, std::int64_t, bool) override { ++switched; }
            void Failed(const CompressionFailure& failure, bool insideTree) override {
                EXPECT_TRUE(insideTree);
                failed.push_back(failure.path);
            }
            int switched = 0;
            std::vector<std::string> failed;
        } heard;
        const std::int64_t counted = CountEntry(fs, P("/d/"), "tree").entries;
        EXPECT_EQ(CompressEntries(fs, P("/d/"), {"tree"}, false, nullptr, heard),
                  CompressOutcome::kDone);
        std::vector<std::string> failed;
        std::vector<std::string> switches;
        for (const std::string& path : test.failed) {
            failed.push_back(P(path));
        }
        for (const std::string& path : test.switches) {
            switches.push_back(P(path));
        }
        EXPECT_EQ(heard.failed, failed);
        EXPECT_EQ(fs.switches, switches);
        EXPECT_EQ(heard.switched, counted);
    }
}

// A switched file that is gone by the time its batch of rows is measured is a failure that
// ends the command, not a row that silently stays as it was.
TEST(CompressEntries, AFileGoneBeforeItsBatchedRemeasureEndsTheCommand) {
    FakeFileSystem fs;
    auto& d = fs.Root().Folder("d");
    d.File("f0", 10).File("f1", 10).File("f2", 10);
    struct Heard : CompressListener {
        explicit Heard(FakeNode& folder) : folder_(folder) {}
        void Switching(const std::string&) override {}
        void Switched(const std::string& path, std::int64_t, bool) override {
            // f0 is removed behind the command's back once f1 has been switched.
            if (path.ends_with("f1")) {
                std::erase_if(folder_.children,
                              [](const auto& node) { return node->name == "f0"; });
            }
        }
        void Measured(std::size_t index, EntryRow) override { measured.push_back(index); }
        void Failed(const CompressionFailure& failure, bool insideTree) override {
            EXPECT_FALSE(insideTree);
            failed.push_back(failure.path + ": " + failure.reason);
        }
        FakeNode& folder_;
        std::vector<std::size_t> measured;
        std::vector<std::string> failed;
    } heard(d);
    EXPECT_EQ(CompressEntries(fs, P("/d/"), {"f0", "f1", "f2"}, false, nullptr, heard,
                              std::chrono::hours(1)),
              CompressOutcome::kFailed);
    EXPECT_EQ(heard.failed, std::vector<std::string>{P("/d/f0") + ": gone after the switch"});
    EXPECT_EQ(heard.measured, (std::vector<std::size_t>{1, 2}));
}

}  // namespace
}  // namespace packmeter
