#include <gtest/gtest.h>

#include <future>
#include <string>

#include "core/exceptlog/fault_threads.hpp"

namespace packmeter {
namespace {

std::vector<std::string> gEvents;
std::thread::id gEnteredIn;

TEST(FaultThreadsTest, AProgramThreadIsListedWhileItRunsAndRunsThePlatformsHooks) {
    FaultThreadHooks hooks;
    hooks.captureCreator = [] {
        gEvents.push_back("capture");
        return std::vector<std::uintptr_t>{0x401000, 0x402000};
    };
    hooks.enter = [] {
        gEvents.push_back("enter");
        gEnteredIn = std::this_thread::get_id();
    };
    hooks.leave = [] { gEvents.push_back("leave"); };
    SetFaultThreadHooks(hooks);

    const auto before = FaultThreads().Count();
    std::promise<void> listed;
    std::promise<void> release;
    TFaultThreadEntry seen;
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
    SetFaultThreadHooks({});

    EXPECT_TRUE(found);
    EXPECT_EQ(seen.Name, "TScan");
    EXPECT_EQ(seen.CreatorStack, (std::vector<std::uintptr_t>{0x401000, 0x402000}));
    EXPECT_EQ(sum, 5);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"capture", "enter", "leave"}));
    EXPECT_EQ(gEnteredIn, seen.Id);
    EXPECT_EQ(FaultThreads().Count(), before);

    // Without hooks (an inactive logger) a jthread starts the same way and captures nothing.
    gEvents.clear();
    StartProgramThread<std::jthread>("Helper", [&] {
        FaultThreads().Find(std::this_thread::get_id(), seen);
    }).join();
    EXPECT_EQ(seen.Name, "Helper");
    EXPECT_TRUE(seen.CreatorStack.empty());
    EXPECT_TRUE(gEvents.empty());
}

}  // namespace
}  // namespace packmeter
