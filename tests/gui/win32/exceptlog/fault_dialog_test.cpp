// The error dialog and the watchdog in a real Win32 window program with the logger active: the
// program fails for real in a child process, works its own dialog from a thread of its own and
// prints what it finds.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/exceptlog/log_file.hpp"
#include "gui/win32/exceptlog/fault_dialog.hpp"

namespace packmeter::win32 {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text, const std::string& start) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind(start, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

struct ChildRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};

class FaultDialogTest : public testing::Test {
  protected:
    ~FaultDialogTest() override {
        std::error_code ignored;
        fs::remove(pids_, ignored);
    }

    // Runs the program with its output in a file; kills it after 60 s.
    ChildRun RunProgram(const fs::path& program, const std::string& kind,
                        const std::string& script) {
        std::error_code ignored;
        pids_ = fs::path(program).replace_extension(".pids");
        fs::remove(pids_, ignored);
        const fs::path outputFile = program.wstring() + L".out";
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE output = ::CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        ::SetEnvironmentVariableW(L"FAULTLOG_SCRIPT", fs::path(script).wstring().c_str());
        std::wstring command = L"\"" + program.wstring() + L"\" " + fs::path(kind).wstring() +
                               L" \"" + pids_.wstring() + L"\"";
        PROCESS_INFORMATION process{};
        ChildRun run;
        const BOOL started = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr,
                                              TRUE, 0, nullptr, nullptr, &startup, &process);
        ::CloseHandle(output);
        if (!started) {
            ADD_FAILURE() << "cannot start " << program;
            return run;
        }
        if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.hProcess, 0xFFFFFFFF);
            ADD_FAILURE() << kind << " hung";
        } else {
            ::GetExitCodeProcess(process.hProcess, &run.exitCode);
        }
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        run.output = ReadAll(outputFile);
        fs::remove(outputFile, ignored);
        return run;
    }

    fs::path pids_;
};

// The user's own coordinates file, put back after the test.
class SavedFile {
  public:
    explicit SavedFile(fs::path path) : path_(std::move(path)), text_(ReadAll(path_)) {}
    ~SavedFile() { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text_; }
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;

  private:
    fs::path path_;
    std::string text_;
};

TEST_F(FaultDialogTest, TheDialogShowsEveryErrorSizedStoredAndWithItsCallStack) {
    const fs::path program = FAULT_DIALOG_PROGRAM;
    const fs::path log = fs::path(program).replace_extension(".flog");
    std::error_code ignored;
    fs::remove(log, ignored);
    const fs::path ini = FaultDialogCoordinatesFile();
    const SavedFile saved(ini);
    std::ofstream(ini, std::ios::binary | std::ios::trunc)
        << "[Other]\r\nKept=1\r\n[Coordinates]\r\nWidth=500\r\nHeight=300\r\nLeft=40\r\nTop=30\r\n"
           "Col1=90\r\n";

    // Five errors in message handlers: the program goes on after each; the terminate button
    // shows from the fourth on and restarts the program.
    ChildRun run = RunProgram(program, "throw", "terminate");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const auto terminate = Lines(run.output, "terminate ");
    ASSERT_EQ(terminate.size(), 4u) << run.output;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(terminate[i], "terminate hidden \"&Restart\"");
    }
    EXPECT_EQ(terminate[3], "terminate shown \"&Restart\"");
    EXPECT_EQ(Lines(run.output, "dialog 1 ").at(0), "dialog 1 \"Error.\" \"No room on the list.\"");
    // The size rule, counted with the window's frame and caption as the system has them.
    std::smatch size;
    const std::string collapsed = Lines(run.output, "collapsed ").at(0);
    ASSERT_TRUE(std::regex_match(
        collapsed, size,
        std::regex("collapsed -?\\d+ -?\\d+ (\\d+) (\\d+) text (\\d+) (\\d+) frame (\\d+) (\\d+) "
                   "(\\d+)")))
        << collapsed;
    const int fw = std::stoi(size[5]), fh = std::stoi(size[6]), caption = std::stoi(size[7]);
    EXPECT_EQ(std::stoi(size[1]), std::max(std::stoi(size[3]) + 16 + 2 * fw + 58, 250));
    EXPECT_EQ(std::stoi(size[2]), std::max(std::stoi(size[4]) - 39, 0) + 2 * fh + caption + 86);
    const auto expanded = Lines(run.output, "expanded ");
    ASSERT_EQ(expanded.size(), 4u);
    EXPECT_EQ(expanded[0],
              "expanded 40 30 500 300 \"An error has occurred during program execution.\"");
    EXPECT_EQ(expanded[1].substr(0, 24), "expanded 60 50 520 330 \"");
    const std::string stored = ReadAll(ini);
    EXPECT_NE(stored.find("[Other]\r\nKept=1\r\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Width=520\r\nHeight=330\r\nLeft=60\r\nTop=50\r\n"), std::string::npos)
        << stored;
    EXPECT_NE(stored.find("Col1=90\r\n"), std::string::npos) << stored;
    // A restarted process can take seconds to start under a loaded Wine.
    for (int i = 0; i < 1500 && Lines(ReadAll(pids_), "").size() < 2; ++i) {
        ::Sleep(20);
    }
    const auto pids = Lines(ReadAll(pids_), "");
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_NE(pids[0], pids[1]);
    // The restarted process ends at once, but under a loaded Wine it may still hold the output
    // file that the next run writes: the next run waits for it.
    if (const HANDLE restarted =
            ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(pids[1])))) {
        ::WaitForSingleObject(restarted, 30000);
        ::CloseHandle(restarted);
    }

    // A fault in the main thread: the dialog lists the frames down to the fault's function.
    run = RunProgram(program, "null", "");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(std::regex_search(
        run.output, std::regex("\nrow [0-9A-F]{8,}\\|window\\.exe\\|fault_dialog_program_win32\\."
                               "cpp\\|\\|WriteThroughNull\\(\\)\\|\\d+ icon 3\r?\n")))
        << run.output;
    TLogFile file(log.string());
    ASSERT_TRUE(file.Load());
    ASSERT_EQ(file.Items.size(), 4u + 1u);
    EXPECT_NE(file.Items[4].find("WriteThroughNull"), std::string::npos);
    // Its window and focused control as the system tells them of the window's thread.
    EXPECT_TRUE(std::regex_search(
        file.Items[4], std::regex("Form Class *: FaultDialogProgram\r\n *Form Text *: Fault "
                                  "dialog program\r\n *Control Class *: Button\r\n *Control "
                                  "Text *: Go on\r\n")))
        << file.Items[4];

    // A message wider than the limit wraps: the widest window, taller by the added rows.
    run = RunProgram(program, "throw-long", "");
    const std::string wide = Lines(run.output, "collapsed ").at(0);
    ASSERT_TRUE(std::regex_match(
        wide, size,
        std::regex("collapsed -?\\d+ -?\\d+ (\\d+) (\\d+) text (\\d+) (\\d+) frame .*")));
    // A word longer than the text area does not widen the window further.
    const int limit = 640 - (2 * fw + 58);
    EXPECT_GT(std::stoi(size[3]), limit);
    EXPECT_EQ(std::stoi(size[1]), limit + 16 + 2 * fw + 58);
    EXPECT_GT(std::stoi(size[4]), 39);
    EXPECT_EQ(std::stoi(size[2]), std::stoi(size[4]) - 39 + 2 * fh + caption + 86);
}

TEST_F(FaultDialogTest, TheWatchdogReportsAFrozenMainThreadOnce) {
    const fs::path program = FAULT_WATCH_PROGRAM;
    const fs::path log = fs::path(program).replace_extension(".flog");
    const struct {
        const char* kind;
        std::size_t reports;
    } cases[] = {
        {"freeze", 1},  // the main thread sleeps 3.5 s
        {"responsive", 0},
        {"modal", 0},  // a message box of the program's own is open for 3.5 s
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        std::error_code ignored;
        fs::remove(log, ignored);
        const ChildRun run = RunProgram(program, c.kind, "");
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        TLogFile file(log.string());
        file.Load();
        ASSERT_EQ(file.Items.size(), c.reports) << run.output;
        if (c.reports) {
            const std::string& report = file.Items[0];
            EXPECT_NE(report.find("  Type   : EFrozenApplication\r\n"), std::string::npos);
            EXPECT_NE(report.find("The application seems to be frozen."), std::string::npos);
            EXPECT_TRUE(std::regex_search(
                report,
                std::regex("\\|fault_dialog_program_win32\\.cpp *\\| *\\|SleepInMainThread")))
                << report;
            // The dialog showed the report, and the program went on once it was closed.
            EXPECT_NE(
                run.output.find("dialog 1 \"Error.\" \"The application seems to be frozen.\""),
                std::string::npos)
                << run.output;
            EXPECT_NE(run.output.find("woke"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace packmeter::win32
