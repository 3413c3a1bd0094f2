// Real crashes of a test program with the logger active, each in a child process: the log file
// beside the program must hold one report naming the crash and the source line.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "core/exceptlog/log_file.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

struct ChildRun {
    DWORD exitCode = 0xFFFFFFFF;  // killed after the time-out
    std::string output;
};

// Runs the program with one argument, its output in a file; kills it after 60 s.
ChildRun RunProgram(const fs::path& program, const std::string& argument) {
    // One file per run: tests of this program may run at the same time in other processes.
    static int runs = 0;
    const fs::path outputFile = program.wstring() + L"." +
                                std::to_wstring(::GetCurrentProcessId()) + L"." +
                                std::to_wstring(++runs) + L".out";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE output = ::CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::wstring command = L"\"" + program.wstring() + L"\" " + fs::path(argument).wstring();
    PROCESS_INFORMATION process{};
    ChildRun run;
    const BOOL started = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                                          0, nullptr, nullptr, &startup, &process);
    ::CloseHandle(output);
    if (!started) {
        ADD_FAILURE() << "cannot start " << program;
        return run;
    }
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 0xFFFFFFFF);
        ADD_FAILURE() << argument << " hung";
    } else {
        ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    {
        std::ifstream in(outputFile, std::ios::binary);
        run.output.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::error_code ignored;
    fs::remove(outputFile, ignored);
    return run;
}

TEST(FaultCaptureWindowsTest, AProgramWithoutADataBlockStaysInactive) {
    const fs::path plain = FAULTLOG_CRASH_PROGRAM;
    EXPECT_NE(RunProgram(plain, "status").output.find("inactive"), std::string::npos);
    RunProgram(plain, "null");
    EXPECT_FALSE(fs::exists(fs::path(plain).replace_extension(".flog")));
    EXPECT_EQ(RunProgram(FAULTLOG_CRASH_INSTRUMENTED, "status").output.find("active"), 0u);
}

TEST(FaultCaptureWindowsTest, EveryCrashIsReportedOnceWithItsCallStack) {
    const struct {
        const char* kind;
        const char* type;
        const char* message;
        const char* function;  // a frame the call stack must name
        const char* line;      // and its source line
        const char* module;    // where the fault or the throw happened
    } cases[] = {
        {"null", "EAccessViolation", "Write of address 00000000.", "WriteThroughNull\\(\\)", "17",
         "crash.exe"},
        {"null-worker", "EAccessViolation", "Write of address 00000000.", "WriteThroughNull\\(\\)",
         "17", "crash.exe"},
        {"throw", "std::runtime_error", "Nothing to scan in 100% of /x.", "ThrowUncaught\\(\\)",
         "21", "crash.exe"},
        {"throw-worker", "std::runtime_error", "Nothing to scan in 100% of /x.",
         "ThrowUncaught\\(\\)", "21", "crash.exe"},
        {"abort", "EAbnormalTermination", "The program was aborted.", "main", "\\d+", "msvcrt.dll"},
        {"overflow", "EStackOverflow", "Stack overflow.", "Recurse\\(int\\)", "2[5-8]",
         "crash.exe"},
        {"overflow-worker", "EStackOverflow", "Stack overflow.", "Recurse\\(int\\)", "2[5-8]",
         "crash.exe"},
    };
    const fs::path program = FAULTLOG_CRASH_INSTRUMENTED;
    const fs::path log = fs::path(program).replace_extension(".flog");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove(log);
        const ChildRun run = RunProgram(program, c.kind);
        EXPECT_EQ(run.exitCode, 1u);
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
        std::string module = report.substr(report.find("  Module : ") + 11);
        module = module.substr(0, module.find("\r\n"));
        EXPECT_EQ(_stricmp(module.c_str(), c.module), 0) << report;
        if (std::string(c.kind).find("worker") != std::string::npos) {
            // A worker's stack goes on with that of main, which started it.
            EXPECT_TRUE(
                std::regex_search(report, std::regex("\\|crash_program\\.cpp *\\| *\\|main *\\|")))
                << report;
        }
        EXPECT_NE(run.output.find("An error has occurred"), std::string::npos);
    }

    // An exception that reaches the event loop is reported, and the program goes on.
    fs::remove(log);
    const ChildRun carriedOn = RunProgram(program, "event-loop");
    EXPECT_EQ(carriedOn.exitCode, 0u);
    EXPECT_NE(carriedOn.output.find("carried on"), std::string::npos);
    TLogFile file(log.string());
    ASSERT_TRUE(file.Load());
    ASSERT_EQ(file.Items.size(), 1u);
    EXPECT_NE(file.Items[0].find("  Type   : std::runtime_error\r\n"), std::string::npos);

    // An exception the program catches is no fault.
    fs::remove(log);
    EXPECT_EQ(RunProgram(program, "caught").exitCode, 0u);
    EXPECT_FALSE(fs::exists(log));
}

}  // namespace
}  // namespace packmeter
