#include "core/shell/dir_mon.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>
#include <vector>

namespace packmeter {
namespace {

// Watches that report only when the test says so, from the test's own thread.
struct FakeWatcher : ChangeWatcher {
    struct Watch : ChangeWatch {
        explicit Watch(FakeWatcher& owner) : owner_(owner) { ++owner_.running; }
        ~Watch() override { --owner_.running; }
        FakeWatcher& owner_;
    };
    std::unique_ptr<ChangeWatch> Start(const std::string& directory, std::uint32_t flags,
                                       bool subtree, std::function<void()> changed,
                                       std::function<void(std::string)> failed) override {
        if (refuse) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        starts.push_back(directory + (subtree ? " nested " : " ") + std::to_string(flags));
        this->changed = std::move(changed);
        this->failed = std::move(failed);
        return std::make_unique<Watch>(*this);
    }
    std::vector<std::string> starts;
    std::function<void()> changed;
    std::function<void(std::string)> failed;
    int running = 0;
    bool refuse = false;
};

struct DirMonTest : ::testing::Test {
    void Deliver() {
        auto queued = std::move(posted);
        posted.clear();
        for (auto& run : queued) {
            run();
        }
    }
    std::shared_ptr<FakeWatcher> watcher = std::make_shared<FakeWatcher>();
    std::vector<std::function<void()>> posted;
    TDirMon mon{watcher, [this](std::function<void()> run) { posted.push_back(std::move(run)); }};
};

TEST_F(DirMonTest, DirectoryFilterAndNestingDecideWhenAndWhatIsWatched) {
    std::vector<std::string> events;
    mon.OnMonitorStart = [&](TDirMon&) { events.push_back("start"); };
    mon.OnMonitorStop = [&](TDirMon&) { events.push_back("stop"); };
    EXPECT_EQ(mon.NotifyFilter(), (TDirMonType{dmcFileName}));
    mon.StartMonitoring();  // no directory yet: nothing
    mon.SetDirectory("/data/");
    EXPECT_EQ(mon.Directory(), "/data");
    mon.SetDirectory("/data");  // the same: nothing new
    mon.SetDirectory("C:\\");   // a root keeps its separator
    EXPECT_EQ(mon.Directory(), "C:\\");
    mon.SetNotifyFilter({dmcFileName, dmcDirName, dmcSecurity});
    EXPECT_FALSE(mon.Monitoring());  // idle until the next start
    EXPECT_EQ(mon.NotifyFilter(), (TDirMonType{dmcFileName, dmcDirName, dmcSecurity}));
    mon.SetNested(true);
    mon.StartMonitoring();
    EXPECT_EQ(watcher->starts, (std::vector<std::string>{"/data 1", "C:\\ 1", "C:\\ nested 259"}));
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop", "start", "stop", "start"}));
    EXPECT_EQ(watcher->running, 1);
    EXPECT_EQ(TDirMonType::FromPlatformFlags(0x1F | 0x100).PlatformFlags(), 0x11Fu);
}

TEST_F(DirMonTest, NoticesReachTheOwnerOnlyFromTheRunningWatch) {
    int changes = 0;
    mon.OnDirChange = [&](TDirMon&) {
        ++changes;
        throw std::runtime_error("a failing handler");  // swallowed; watching goes on
    };
    std::string failure;
    mon.OnMonitorFailure = [&](TDirMon& sender) { failure = sender.LastFailure(); };
    mon.SetDirectory("/a");
    watcher->changed();
    watcher->changed();
    EXPECT_EQ(changes, 0);  // nothing runs before the owner's thread takes the notices
    Deliver();
    EXPECT_EQ(changes, 2);
    watcher->failed("limit reached");
    Deliver();
    EXPECT_EQ(failure, "limit reached");
    // Notices posted by a watch that has since been replaced or stopped are dropped.
    auto oldChanged = watcher->changed;
    mon.SetDirectory("/b");
    oldChanged();
    mon.StopMonitoring();
    watcher->changed();
    Deliver();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(watcher->running, 0);
    // A watch that cannot start says so as the component's own error.
    watcher->refuse = true;
    EXPECT_THROW(
        {
            try {
                mon.StartMonitoring();
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "TDirMon: CreateThread failed");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_FALSE(mon.Monitoring());
}

}  // namespace
}  // namespace packmeter
