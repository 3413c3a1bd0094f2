#include "gui/win32/shell/dir_mon_window.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/windows/shell/change_watcher.hpp"
#include "tests/gui/win32/win32_test_support.hpp"

namespace packmeter::win32 {
namespace {

namespace fs = std::filesystem;

// A change reaches OnDirChange only when the window's thread handles WM_DIRCHANGED.
TEST(DirMonWindow, NoticesRunWhenTheHiddenWindowHandlesItsMessage) {
    const fs::path root = fs::temp_directory_path() /
                          ("packmeter-watch-window-" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(root);
    fs::create_directories(root);
    DirMonWindow window;
    ASSERT_NE(window.Hwnd(), nullptr);
    const auto owner = std::this_thread::get_id();
    int changes = 0;
    {
        TDirMon mon(win::MakeChangeWatcher(), window.Poster());
        mon.OnDirChange = [&](TDirMon&) {
            EXPECT_EQ(std::this_thread::get_id(), owner);
            ++changes;
        };
        mon.SetDirectory(root.string());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::ofstream(root / "a.txt") << "x";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(changes, 0);  // posted, but the window has not run yet
        EXPECT_TRUE(testing::WaitFor([&] { return changes > 0; }, 5000));
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace packmeter::win32
