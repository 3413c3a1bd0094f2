#include "scan/shell_icon_source.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/scan.hpp"
#include "system.hpp"
#include "win_test_tree.hpp"

namespace packmeter {
namespace {

using testing::WinTestTree;

class ShellIconSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree_.Folder(L"folder");
        tree_.File(L"text.txt", 10);
    }
    WinTestTree tree_;
    std::shared_ptr<IconSource> icons_ = MakeShellIconSource();
};

TEST_F(ShellIconSourceTest, FilesAndFoldersGetTheirSmallIcons) {
    const int file = icons_->IconIndex(tree_.Root(), "text.txt", false);
    const int folder = icons_->IconIndex(tree_.Root(), "folder", true);
    EXPECT_GE(file, 0);
    EXPECT_GE(folder, 0);
    EXPECT_NE(file, folder);

    // Asked from another thread, which has no COM of its own yet.
    int fromThread = -2;
    std::thread([&] { fromThread = icons_->IconIndex(tree_.Root(), "folder", true); }).join();
    EXPECT_EQ(fromThread, folder);
}

TEST_F(ShellIconSourceTest, EntriesBeyondTheShellsPathLengthGetTheIconOfTheirKind) {
    const std::wstring deep = std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
    tree_.Folder(deep + L"\\folder");
    tree_.File(deep + L"\\text.txt", 10);
    const std::string deepRoot =
        tree_.Root() + std::string(150, 'a') + "\\" + std::string(150, 'b');
    EXPECT_EQ(icons_->IconIndex(deepRoot, "text.txt", false),
              icons_->IconIndex(tree_.Root(), "text.txt", false));
    EXPECT_EQ(icons_->IconIndex(deepRoot, "folder", true),
              icons_->IconIndex(tree_.Root(), "folder", true));
}

class Rows final : public ScanOutput {
  public:
    void ScanBusy(bool busy) override {
        std::lock_guard guard(lock_);
        done_ = !busy;
        changed_.notify_all();
    }
    void AddRow(EntryRow row) override {
        std::lock_guard guard(lock_);
        rows.push_back(std::move(row));
    }
    void SetTotals(ScanTotals) override {}
    void WaitDone() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return done_; });
    }
    std::vector<EntryRow> rows;

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
};

TEST_F(ShellIconSourceTest, ScanWorkerGetsIconsOnItsOwnThread) {
    auto rows = std::make_shared<Rows>();
    TScan scan(tree_.Root(), rows, MakeFileSystem(), icons_);
    scan.Start();
    rows->WaitDone();
    scan.WaitFor();
    ASSERT_EQ(rows->rows.size(), 2u);
    EXPECT_EQ(rows->rows[0].name, "folder");
    EXPECT_EQ(rows->rows[0].iconIndex, icons_->IconIndex(tree_.Root(), "folder", true));
    EXPECT_EQ(rows->rows[1].name, "text.txt");
    EXPECT_EQ(rows->rows[1].iconIndex, icons_->IconIndex(tree_.Root(), "text.txt", false));
}

}  // namespace
}  // namespace packmeter
