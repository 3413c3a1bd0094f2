#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_threads.hpp"

namespace packmeter {
namespace {

std::vector<std::string> gEvents;
std::thread::id gEnteredIn;

// The thread steps of a capture platform; the rest is never called here.
class ThreadSteps final : public FaultCapturePlatform {
  public:
    std::uint64_t CurrentThread() override { return 1; }
    void PauseBriefly() override {}
    void WakeReporter() override {}
    bool WaitForReport(int) override { return true; }
    bool WaitForRequest() override { return false; }
    void ReportDone() override {}
    bool MakeReport() override { return false; }
    std::string RecordedType() override { return {}; }
    std::int64_t RecordedCode() override { return 0; }
    void RecordCurrentException() override {}
    FaultMailPlatform& Mail() override { std::abort(); }
    [[noreturn]] void EndProcess(int) override { std::abort(); }
    [[noreturn]] void EndInsideLogger(int) override { std::abort(); }
    void Restart() override {}
    bool SuspendMainThread(const std::string&) override { return false; }
    void ResumeMainThread() override {}

    std::vector<std::uintptr_t> CaptureCreatorStack() override {
        gEvents.push_back("capture");
        return {0x401000, 0x402000};
    }
    void EnterProgramThread() override {
        gEvents.push_back("enter");
        gEnteredIn = std::this_thread::get_id();
    }
    void LeaveProgramThread() override { gEvents.push_back("leave"); }
};

TEST(FaultThreadsTest, AProgramThreadIsListedWhileItRunsAndRunsThePlatformsSteps) {
    ThreadSteps steps;
    SetCapturePlatformForThreads(&steps);

    const auto before = FaultThreads().Count();
    std::promise<void> listed;
    std::promise<void> release;
    FaultThreadEntry seen;
    bool found = false;
    int sum = 0;
    std::thread worker = StartProgramThread(
        "TScan",
        [&](int a, int b) {
            found = FaultThreads().Find(std::this_thread::get_id(), seen);
            sum = a + b;
            listed.set_value();
            release.get_future().wait();
        },
        2, 3);
    listed.get_future().wait();
    EXPECT_EQ(FaultThreads().Count(), before + 1);
    release.set_value();
    worker.join();
    SetCapturePlatformForThreads(nullptr);

    EXPECT_TRUE(found);
    EXPECT_EQ(seen.name, "TScan");
    EXPECT_EQ(seen.creatorStack, (std::vector<std::uintptr_t>{0x401000, 0x402000}));
    EXPECT_EQ(sum, 5);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"capture", "enter", "leave"}));
    EXPECT_EQ(gEnteredIn, seen.id);
    EXPECT_EQ(FaultThreads().Count(), before);

    // Without a platform (an inactive logger) a jthread starts the same way and captures nothing.
    gEvents.clear();
    StartProgramThread<std::jthread>("Helper", [&] {
        FaultThreads().Find(std::this_thread::get_id(), seen);
    }).join();
    EXPECT_EQ(seen.name, "Helper");
    EXPECT_TRUE(seen.creatorStack.empty());
    EXPECT_TRUE(gEvents.empty());
}

}  // namespace
}  // namespace packmeter
