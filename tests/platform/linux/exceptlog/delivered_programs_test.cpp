// The programs as the build makes them carry no data block: the logger they install stays
// inactive and writes nothing. A copy given a block by the instrumenting step becomes active.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
std::string RunUntilTraced(const fs::path& program, const std::string& argument,
                           const fs::path& trace, int seconds = 20) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(program.c_str(), program.c_str(), argument.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (ReadAll(trace).find("InstallFaultLogger=") != std::string::npos ||
            std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ReadAll(trace);
}

TEST(DeliveredProgramsTest, StayInactiveUntilInstrumented) {
    const fs::path folder =
        fs::temp_directory_path() / ("faultlog-programs-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path options = folder / "options.txt";
    std::ofstream(options) << "LogFileOptions=0\n";
    for (const fs::path& built :
         {fs::path(PACKMETER_CLI_PROGRAM), fs::path(PACKMETER_WINDOW_PROGRAM)}) {
        if (built.empty()) {
            continue;  // the window program is built only where Qt is installed
        }
        SCOPED_TRACE(built.filename().string());
        const fs::path copy = folder / built.filename();
        const fs::path trace = folder / (built.filename().string() + ".log");
        fs::copy_file(built, copy, fs::copy_options::overwrite_existing);

        // Nothing at all is written beside the program, not even the logger's trace when its
        // argument asks for one (the program may stand in a system folder).
        const auto before = std::distance(fs::directory_iterator(folder), {});
        for (const char* argument : {"--version", "DEBUG SAVE"}) {
            RunUntilTraced(copy, argument, trace, 3);
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), before) << argument;
        }

        const std::string instrument = std::string(FAULTLOG_INSTRUMENT) + " " + copy.string() +
                                       " " + options.string() + " 2>/dev/null";
        ASSERT_EQ(std::system(instrument.c_str()), 0);
        EXPECT_NE(RunUntilTraced(copy, "DEBUG SAVE", trace).find("InstallFaultLogger=(True)"),
                  std::string::npos);
        fs::remove(trace);
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace packmeter
