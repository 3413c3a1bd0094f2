#include "core/utils/program_thread.hpp"

namespace packmeter {

namespace {

// Set once while the program starts, before its first thread; read by every thread.
ProgramThreadWatch gWatch;

}  // namespace

void SetProgramThreadWatch(const ProgramThreadWatch& watch) {
    gWatch = watch;
}

namespace detail {

ProgramThreadScope::ProgramThreadScope(std::string name, std::vector<std::uintptr_t> creatorStack) {
    if (gWatch.enter) {
        gWatch.enter(std::move(name), std::move(creatorStack));
    }
}

ProgramThreadScope::~ProgramThreadScope() {
    if (gWatch.leave) {
        gWatch.leave();
    }
}

std::vector<std::uintptr_t> CaptureCreator() {
    return gWatch.captureCreator ? gWatch.captureCreator() : std::vector<std::uintptr_t>{};
}

}  // namespace detail

}  // namespace packmeter
