#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "core/exceptlog/log_file.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

struct ChildRun {
    int exitCode = -1;  // -1: ended by a signal or killed after the time-out
    std::string output;
};

// Runs the program with one argument (its stderr in the output too when asked); kills it after
// 20 s.
ChildRun RunProgram(const fs::path& program, const std::string& argument, bool withErrors = false) {
    const fs::path output = program.string() + ".out";
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen(output.c_str(), "w", stdout);
        if (withErrors) {
            ::dup2(STDOUT_FILENO, STDERR_FILENO);
        } else {
            std::freopen("/dev/null", "w", stderr);
        }
        ::execl(program.c_str(), program.c_str(), argument.c_str(), nullptr);
        ::_exit(127);
    }
    ChildRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << argument << " hung";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    std::ifstream in(output);
    run.output.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

class FaultCaptureTest : public testing::Test {
  protected:
    FaultCaptureTest()
        : folder_(fs::temp_directory_path() / ("faultlog-capture-" + std::to_string(::getpid()))) {
        fs::create_directories(folder_);
        plain_ = folder_ / "plain";
        instrumented_ = folder_ / "crash";
        fs::copy_file(FAULTLOG_CRASH_PROGRAM, plain_, fs::copy_options::overwrite_existing);
        const fs::path options = folder_ / "options.txt";
        std::ofstream(options) << "# as the build's instrumenting step gets it\nLogFileOptions=0\n";
        const std::string command = std::string(FAULTLOG_INSTRUMENT) + " " +
                                    FAULTLOG_CRASH_PROGRAM + " " + options.string() + " " +
                                    instrumented_.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    ~FaultCaptureTest() override { fs::remove_all(folder_); }

    fs::path folder_;
    fs::path plain_;
    fs::path instrumented_;
};

TEST_F(FaultCaptureTest, AProgramWithoutADataBlockStaysInactive) {
    EXPECT_EQ(RunProgram(plain_, "status").output, "inactive\n");
    const ChildRun run = RunProgram(plain_, "null");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(fs::exists(folder_ / "plain.flog"));
    EXPECT_EQ(RunProgram(instrumented_, "status").output, "active\n");

    // Instrumenting again replaces the block.
    const auto size = fs::file_size(instrumented_);
    const fs::path options = folder_ / "options.txt";
    EXPECT_EQ(std::system((std::string(FAULTLOG_INSTRUMENT) + " " + instrumented_.string() + " " +
                           options.string())
                              .c_str()),
              0);
    EXPECT_EQ(fs::file_size(instrumented_), size);
    EXPECT_EQ(RunProgram(instrumented_, "status").output, "active\n");
}

TEST_F(FaultCaptureTest, EveryCrashIsReportedOnceWithItsCallStack) {
    const struct {
        const char* kind;
        const char* type;
        const char* message;
        const char* function;  // a frame the call stack must name
        const char* line;      // and its source line
        const char* module;    // where the fault or the throw happened
    } cases[] = {
        {"null", "EAccessViolation", "Write of address 00000000.", "WriteThroughNull\\(\\)", "17",
         "crash"},
        {"null-worker", "EAccessViolation", "Write of address 00000000.", "WriteThroughNull\\(\\)",
         "17", "crash"},
        {"throw", "std::runtime_error", "Nothing to scan in 100% of /x.", "ThrowUncaught\\(\\)",
         "21", "crash"},
        {"throw-worker", "std::runtime_error", "Nothing to scan in 100% of /x.",
         "ThrowUncaught\\(\\)", "21", "crash"},
        {"abort", "EAbnormalTermination", "The program was aborted.", "main", "\\d+", "libc.so.6"},
        // The fault is in the function's first lines, where it makes room for its frame.
        {"overflow", "EStackOverflow", "Stack overflow.", "Recurse\\(int\\)", "2[5-8]", "crash"},
        {"overflow-worker", "EStackOverflow", "Stack overflow.", "Recurse\\(int\\)", "2[5-8]",
         "crash"},
    };
    const fs::path log = folder_ / "crash.flog";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove(log);
        const ChildRun run = RunProgram(instrumented_, c.kind);
        EXPECT_EQ(run.exitCode, 1);
        TLogFile file(log.string());
        ASSERT_TRUE(file.Load());
        ASSERT_EQ(file.Items.size(), 1u);
        const std::string& report = file.Items[0];
        EXPECT_NE(report.find(std::string("  Type   : ") + c.type + "\r\n"), std::string::npos)
            << report;
        EXPECT_NE(report.find(c.message), std::string::npos) << report;
        const std::regex frame("\\|crash_program\\.cpp *\\| *\\|" + std::string(c.function) +
                               " *\\|" + c.line + " *\\|");
        EXPECT_TRUE(std::regex_search(report, frame)) << report;
        // A worker's stack goes on with that of main, which started it.
        if (std::string(c.kind).find("worker") != std::string::npos) {
            EXPECT_TRUE(
                std::regex_search(report, std::regex("\\|crash_program\\.cpp *\\| *\\|main *\\|")))
                << report;
        }
        EXPECT_NE(report.find("  Module : " + std::string(c.module) + "\r\n"), std::string::npos)
            << report;
        // The console text went to standard output too.
        EXPECT_NE(run.output.find("An error has occurred"), std::string::npos);
    }
    // A non-standard exception has no message; a fault signal sent by another process names it.
    fs::remove(log);
    EXPECT_EQ(RunProgram(instrumented_, "throw-int").exitCode, 1);
    {
        TLogFile file(log.string());
        ASSERT_TRUE(file.Load());
        ASSERT_EQ(file.Items.size(), 1u);
        EXPECT_NE(file.Items[0].find("  Type   : int\r\n  Message: \r\n"), std::string::npos)
            << file.Items[0];
    }
    fs::remove(log);
    const fs::path out = folder_ / "pause.out";
    const pid_t paused = ::fork();
    if (paused == 0) {
        std::freopen(out.c_str(), "w", stdout);
        ::execl(instrumented_.c_str(), instrumented_.c_str(), "pause", nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 1000 && !std::ifstream(out).good(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string ready;
    for (int i = 0; i < 1000 && ready.empty(); ++i) {
        std::ifstream(out) >> ready;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(paused, SIGSEGV);
    int status = 0;
    ::waitpid(paused, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    {
        TLogFile file(log.string());
        ASSERT_TRUE(file.Load());
        ASSERT_EQ(file.Items.size(), 1u);
        EXPECT_NE(file.Items[0].find("Signal 11 (SIGSEGV) sent by process " +
                                     std::to_string(::getpid()) + "."),
                  std::string::npos)
            << file.Items[0];
    }

    // An exception that reaches the event loop is reported, and the program goes on.
    fs::remove(log);
    const ChildRun carriedOn = RunProgram(instrumented_, "event-loop");
    EXPECT_EQ(carriedOn.exitCode, 0);
    EXPECT_NE(carriedOn.output.find("carried on"), std::string::npos);
    TLogFile file(log.string());
    ASSERT_TRUE(file.Load());
    ASSERT_EQ(file.Items.size(), 1u);
    EXPECT_NE(file.Items[0].find("  Type   : std::runtime_error\r\n"), std::string::npos);

    // "DEBUG" as the last argument writes the trace beside the program.
    RunProgram(instrumented_, "null-debug");
    std::ifstream trace(folder_ / "crash.log", std::ios::binary);
    const std::string traceText(std::istreambuf_iterator<char>(trace), {});
    EXPECT_NE(traceText.find("  InstallFaultLogger(False)\r\n"), std::string::npos) << traceText;
    EXPECT_NE(traceText.find("  InstallFaultLogger=(True)\r\n"), std::string::npos);
    EXPECT_NE(traceText.find("  Report=(True)\r\n"), std::string::npos);

    // An exception the program catches is no fault.
    fs::remove(log);
    EXPECT_EQ(RunProgram(instrumented_, "caught").exitCode, 0);
    EXPECT_FALSE(fs::exists(log));
}

// A failure inside the logger's own report (here its log-file step) is named as the logger's
// internal error, and the process still ends with the fault's exit code, not by an abort.
TEST_F(FaultCaptureTest, AFailureInsideTheLoggerIsNamedAndTheProcessEnds) {
    const ChildRun run = RunProgram(instrumented_, "null-failing-report", true);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(
                  "[ERROR] - Section: InternalExceptNotify.10 - Message: \"Step 10 failed.\""),
              std::string::npos)
        << run.output;
}

}  // namespace
}  // namespace packmeter
