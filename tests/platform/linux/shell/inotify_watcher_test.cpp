#include "platform/linux/shell/inotify_watcher.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/owner_queue.hpp"

namespace packmeter::linuxfs {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A monitor on real inotify watches whose notices run on the test's thread.
class InotifyWatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("packmeter-watch-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "sub");
        mon_.OnDirChange = [this](TDirMon&) {
            EXPECT_EQ(std::this_thread::get_id(), owner_);
            ++changes_;
        };
        mon_.OnMonitorFailure = [this](TDirMon& sender) {
            failures_.push_back(sender.LastFailure());
        };
    }
    void TearDown() override { fs::remove_all(root_); }

    void Take(std::chrono::milliseconds wait) { queue_.Take(wait); }
    bool Reported(const std::function<void()>& act) {
        return testing::Reported(queue_, changes_, act);
    }

    fs::path root_;
    std::thread::id owner_ = std::this_thread::get_id();
    testing::OwnerQueue queue_;
    int changes_ = 0;
    std::vector<std::string> failures_;
    TDirMon mon_{MakeInotifyWatcher(), queue_.Poster()};
};

TEST_F(InotifyWatcherTest, ReportsTheKindsAskedForInTheFolderOrItsWholeTree) {
    const auto touch = [](const fs::path& path) { std::ofstream(path) << "x"; };
    mon_.SetDirectory(root_.string() + "/");
    EXPECT_TRUE(Reported([&] { touch(root_ / "a.txt"); }));
    EXPECT_TRUE(Reported([&] { fs::rename(root_ / "a.txt", root_ / "b.txt"); }));
    EXPECT_FALSE(Reported([&] { touch(root_ / "sub" / "inner.txt"); }));    // not nested
    EXPECT_FALSE(Reported([&] { fs::create_directory(root_ / "made"); }));  // file names only
    EXPECT_FALSE(Reported([&] { std::ofstream(root_ / "b.txt", std::ios::app) << "more"; }));

    mon_.SetNotifyFilter({dmcFileName, dmcDirName, dmcLastWrite});
    mon_.SetNested(true);
    mon_.StartMonitoring();
    EXPECT_TRUE(Reported([&] { fs::create_directories(root_ / "later" / "deeper"); }));
    EXPECT_TRUE(Reported([&] { touch(root_ / "sub" / "inner2.txt"); }));
    // Folders made after the start are watched too, however they came.
    EXPECT_TRUE(Reported([&] { touch(root_ / "later" / "deeper" / "c.txt"); }));
    fs::create_directories(root_.string() + "-outside/moved");
    EXPECT_TRUE(Reported([&] { fs::rename(root_.string() + "-outside/moved", root_ / "moved"); }));
    fs::remove_all(root_.string() + "-outside");
    EXPECT_TRUE(Reported([&] { touch(root_ / "moved" / "d.txt"); }));
    EXPECT_TRUE(Reported([&] { std::ofstream(root_ / "b.txt", std::ios::app) << "more"; }));
    mon_.StopMonitoring();
    EXPECT_FALSE(Reported([&] { touch(root_ / "after-stop.txt"); }));
    EXPECT_TRUE(failures_.empty());
}

TEST_F(InotifyWatcherTest, AFolderThatCannotBeWatchedOrGoesAwayIsReported) {
    mon_.SetDirectory((root_ / "missing").string());
    Take(300ms);
    ASSERT_EQ(failures_, (std::vector<std::string>{"no such folder"}));
    mon_.SetDirectory((root_ / "sub").string());
    EXPECT_FALSE(Reported([&] { fs::remove_all(root_ / "sub"); }));
    EXPECT_EQ(failures_.back(), "the folder is gone");
}

}  // namespace
}  // namespace packmeter::linuxfs
