#pragma once

// The program's threads all start through StartProgramThread, which keeps the list of running
// threads for the fault logger and lets the capture's platform (FaultCapturePlatform) prepare
// each thread for fault capture (its own signal stack, room to report a stack overflow). An
// exception that escapes a thread's body is not caught on the way: the stack stays as it was at the
// throw, and the logger's terminate handler reports it with that call stack.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace packmeter {

struct FaultThreadEntry {
    std::thread::id Id;
    std::string Name;
    // Call sites of the thread that started this one, innermost first; empty while the logger
    // is inactive.
    std::vector<std::uintptr_t> CreatorStack;
};

class TFaultThreadsList {
  public:
    void Add(FaultThreadEntry entry);
    void Remove(std::thread::id id);
    // A copy of the entry of a thread; false when it is not in the list (the main thread, or a
    // thread not started through StartProgramThread).
    bool Find(std::thread::id id, FaultThreadEntry& entry) const;
    std::size_t Count() const;

  private:
    mutable std::mutex lock_;
    std::vector<FaultThreadEntry> entries_;
};

TFaultThreadsList& FaultThreads();

namespace detail {

// Registers the running thread for as long as it lives.
class ProgramThreadScope {
  public:
    ProgramThreadScope(std::string name, std::vector<std::uintptr_t> creatorStack);
    ~ProgramThreadScope();
    ProgramThreadScope(const ProgramThreadScope&) = delete;
    ProgramThreadScope& operator=(const ProgramThreadScope&) = delete;
};

std::vector<std::uintptr_t> CaptureCreator();

}  // namespace detail

// Starts `body(args...)` on a new thread of the given type (std::thread or std::jthread).
template <class Thread = std::thread, class Body, class... Args>
Thread StartProgramThread(std::string name, Body&& body, Args&&... args) {
    return Thread([name = std::move(name), creator = detail::CaptureCreator(),
                   body = std::forward<Body>(body),
                   arguments = std::make_tuple(std::forward<Args>(args)...)]() mutable {
        const detail::ProgramThreadScope scope(std::move(name), std::move(creator));
        std::apply(body, std::move(arguments));
    });
}

}  // namespace packmeter
