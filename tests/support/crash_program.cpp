// A program that installs the fault logger and then fails in the way its argument names.

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/exceptlog/fault_report.hpp"
#include "core/exceptlog/fault_threads.hpp"
#include "platform/fault_logger.hpp"

int* volatile gNowhere = nullptr;

[[gnu::noinline]] void WriteThroughNull() {
    *gNowhere = 42;
}

[[gnu::noinline]] void ThrowUncaught() {
    throw std::runtime_error("Nothing to scan in 100% of /x");
}

// Deeper on every call until the stack runs out; the depth is read back so that the calls stay.
[[gnu::noinline]] int Recurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    return depth < 0 ? frame[0] : Recurse(depth + 1) + frame[0];
}

int main(int argc, char** argv) {
    const bool active = packmeter::InstallFaultLogger();
    const std::string kind = argc > 1 ? argv[1] : "";
    if (kind == "status") {
        std::cout << (active ? "active" : "inactive") << std::endl;
    } else if (kind == "null-failing-report") {
        // The report's log-file step fails: the logger's own error is named, the process ends.
        packmeter::FailFaultReportAtStep(10);
        WriteThroughNull();
    } else if (kind == "null" || kind == "null-debug") {
        WriteThroughNull();
    } else if (kind == "null-worker") {
        packmeter::StartProgramThread("Worker", WriteThroughNull).join();
    } else if (kind == "throw") {
        ThrowUncaught();
    } else if (kind == "throw-int") {
        throw 42;
    } else if (kind == "pause") {
        // Waits for a signal from another process.
        std::cout << "ready" << std::endl;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    } else if (kind == "throw-worker") {
        packmeter::StartProgramThread("Worker", ThrowUncaught).join();
    } else if (kind == "abort") {
        std::abort();
    } else if (kind == "overflow") {
        return Recurse(0);
    } else if (kind == "overflow-worker") {
        packmeter::StartProgramThread("Worker", Recurse, 0).join();
    } else if (kind == "event-loop") {
        try {
            ThrowUncaught();
        } catch (...) {
            if (packmeter::FaultLogExceptionManager()) {
                return 3;
            }
        }
        std::cout << "carried on" << std::endl;
    } else if (kind == "caught") {
        try {
            ThrowUncaught();
        } catch (const std::exception&) {
            return 0;
        }
    }
    return 0;
}
