#pragma once

// Every thread the programs start goes through StartProgramThread, so that one watcher (the
// fault logger, once it is installed) sees each of them: it records where the thread was
// started from, lists it while it runs and prepares it for fault capture (its own signal
// stack, room to report a stack overflow). An exception that escapes a thread's body is not
// caught on the way: the stack stays as it was at the throw, and the logger's terminate
// handler reports it with that call stack.

#include <cstdint>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace packmeter {

// What is done around every program thread; each may be null. `captureCreator` runs in the
// starting thread, `enter` and `leave` in the new thread around its body. Set once while the
// program starts, before its first thread.
struct ProgramThreadWatch {
    std::vector<std::uintptr_t> (*captureCreator)() = nullptr;
    void (*enter)(std::string name, std::vector<std::uintptr_t> creatorStack) = nullptr;
    void (*leave)() = nullptr;
};
void SetProgramThreadWatch(const ProgramThreadWatch& watch);

namespace detail {

// Runs the watch's enter and leave around the running thread's body.
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
