#include "gui/qt/shell/dir_mon_poster.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/linux/shell/inotify_watcher.hpp"

namespace packmeter::qt {
namespace {

namespace fs = std::filesystem;

// A change reaches OnDirChange only through the event loop of the window's thread.
TEST(DirMonPoster, NoticesRunAsQueuedCallsOnTheWindowThread) {
    const fs::path root =
        fs::temp_directory_path() / ("packmeter-qt-watch-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    QObject window;
    const auto owner = std::this_thread::get_id();
    int changes = 0;
    TDirMon mon(linuxfs::MakeInotifyWatcher(), QueuedPoster(&window));
    mon.OnDirChange = [&](TDirMon&) {
        EXPECT_EQ(std::this_thread::get_id(), owner);
        ++changes;
    };
    mon.SetDirectory(root.string());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ofstream(root / "a.txt") << "x";
    // The watch has posted by now; nothing runs until the event loop does.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes > 0; }, 3000));
    mon.StopMonitoring();
    fs::remove_all(root);
}

}  // namespace
}  // namespace packmeter::qt
