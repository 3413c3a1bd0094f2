#include "platform/windows/shell/change_watcher.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/owner_queue.hpp"

namespace packmeter::win {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The monitor on the system's change notifications, its notices run on the test's thread.
TEST(ChangeWatcherTest, ReportsChangesInTheFolderOrItsTreeAndFoldersThatCannotBeWatched) {
    const fs::path root =
        fs::temp_directory_path() / ("packmeter-watch-" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(root);
    fs::create_directories(root / "sub");
    testing::OwnerQueue queue;
    int changes = 0;
    std::vector<std::string> failures;
    const auto owner = std::this_thread::get_id();
    TDirMon mon(MakeChangeWatcher(), queue.Poster());
    mon.OnDirChange = [&](TDirMon&) {
        EXPECT_EQ(std::this_thread::get_id(), owner);
        ++changes;
    };
    mon.OnMonitorFailure = [&](TDirMon& sender) { failures.push_back(sender.LastFailure()); };
    const auto touch = [](const fs::path& path) { std::ofstream(path) << "x"; };
    const auto reported = [&](const std::function<void()>& act) {
        return testing::Reported(queue, changes, act, 1500ms);
    };

    mon.SetDirectory(root.string() + "\\");
    EXPECT_TRUE(reported([&] { touch(root / "a.txt"); }));
    EXPECT_FALSE(reported([&] { touch(root / "sub" / "inner.txt"); }));  // not nested
    mon.SetNested(true);
    mon.StartMonitoring();
    // Wine's change notifications report nothing below the watched folder itself (not even
    // after seconds); Windows reports the whole tree.
    if (!UnderWine()) {
        EXPECT_TRUE(reported([&] { touch(root / "sub" / "inner2.txt"); }));
    }
    mon.StopMonitoring();
    EXPECT_FALSE(reported([&] { touch(root / "after-stop.txt"); }));
    EXPECT_TRUE(failures.empty());

    mon.SetDirectory((root / "missing").string());
    queue.Take(500ms);
    EXPECT_EQ(failures, (std::vector<std::string>{"no such folder"}));
    mon.StopMonitoring();
    fs::remove_all(root);
}

}  // namespace
}  // namespace packmeter::win
