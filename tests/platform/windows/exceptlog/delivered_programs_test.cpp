// The programs as the build makes them carry the empty data block: the logger they install
// stays inactive and writes nothing. A copy given a block by the instrumenting step becomes
// active.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace packmeter {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the program with one argument until it ends or its trace holds the logger's answer,
// then ends it; `seconds` at most. Returns the trace file's text.
std::string RunUntilTraced(const fs::path& program, const std::wstring& argument,
                           const fs::path& trace, int seconds = 60) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring command = L"\"" + program.wstring() + L"\" \"" + argument + L"\"";
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start " << program;
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (::WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        if (ReadAll(trace).find("InstallFaultLogger=") != std::string::npos ||
            std::chrono::steady_clock::now() > deadline) {
            ::TerminateProcess(process.hProcess, 0);
            ::WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return ReadAll(trace);
}

TEST(DeliveredProgramsTest, StayInactiveUntilInstrumented) {
    const fs::path folder = fs::temp_directory_path() /
                            ("faultlog-programs-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(folder);
    const struct {
        const char* built;
        const char* instrumented;
    } programs[] = {{PACKMETER_CLI_PROGRAM, PACKMETER_CLI_INSTRUMENTED},
                    {PACKMETER_WINDOW_PROGRAM, PACKMETER_WINDOW_INSTRUMENTED}};
    for (const auto& program : programs) {
        SCOPED_TRACE(program.built);
        const fs::path copy = folder / fs::path(program.built).filename();
        const fs::path trace = fs::path(copy).replace_extension(".log");
        fs::copy_file(program.built, copy, fs::copy_options::overwrite_existing);

        // Nothing at all is written beside the program, not even the logger's trace when its
        // argument asks for one (the program may stand in a system folder).
        const auto before = std::distance(fs::directory_iterator(folder), {});
        for (const wchar_t* argument : {L"--version", L"DEBUG SAVE"}) {
            RunUntilTraced(copy, argument, trace, 3);
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), before);
        }

        fs::copy_file(program.instrumented, copy, fs::copy_options::overwrite_existing);
        EXPECT_NE(RunUntilTraced(copy, L"DEBUG SAVE", trace).find("InstallFaultLogger=(True)"),
                  std::string::npos);
        fs::remove(trace);
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace packmeter
