// The error dialog and the watchdog in a real window program with the logger active: the
// program fails for real in a child process, works its own dialog and prints what it finds.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "core/exceptlog/log_file.hpp"

namespace packmeter::qt {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FaultDialogTest : public testing::Test {
  protected:
    FaultDialogTest()
        : folder_(fs::temp_directory_path() / ("faultlog-dialog-" + std::to_string(::getpid()))) {
        fs::create_directories(folder_ / "config");
    }
    // A restarted program may still be writing its last lines into the folder: the folder
    // goes once it stays empty (at most 10 s), and a destructor never throws.
    ~FaultDialogTest() override {
        std::error_code error;
        for (int i = 0; i < 200 && fs::exists(folder_, error); ++i) {
            if (fs::remove_all(folder_, error); error) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }

    // An instrumented copy of the program with these options.
    fs::path Instrumented(const std::string& name, const std::string& options) {
        const fs::path file = folder_ / (name + ".txt");
        std::ofstream(file) << "LogFileOptions=0\n" << options;
        const fs::path program = folder_ / name;
        const std::string command = std::string(FAULTLOG_INSTRUMENT) + " " + FAULT_DIALOG_PROGRAM +
                                    " " + file.string() + " " + program.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        return program;
    }

    struct Run {
        int exitCode = -1;
        std::string output;
    };

    // Runs the program, its configuration folder in the test's folder; kills it after 30 s.
    Run RunProgram(const fs::path& program, const std::string& kind, const std::string& script) {
        const fs::path output = folder_ / "output.txt";
        const fs::path pids = folder_ / "pids.txt";
        fs::remove(pids);
        const pid_t child = ::fork();
        if (child == 0) {
            std::freopen(output.c_str(), "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("FAULTLOG_SCRIPT", script.c_str(), 1);
            ::execl(program.c_str(), program.c_str(), kind.c_str(), pids.c_str(), nullptr);
            ::_exit(127);
        }
        Run run;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                ADD_FAILURE() << kind << " hung";
                return run;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.output = ReadAll(output);
        return run;
    }

    std::vector<std::string> Lines(const std::string& text, const std::string& start) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(start, 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    fs::path folder_;
};

TEST_F(FaultDialogTest, TheDialogShowsEveryErrorSizedStoredAndWithItsCallStack) {
    const fs::path program = Instrumented("window", "");
    const fs::path ini = folder_ / "config" / "FaultLog.ini";
    std::ofstream(ini) << "[Other]\r\nKept=1\r\n[Coordinates]\r\nWidth=500\r\nHeight=300\r\n"
                          "Left=40\r\nTop=30\r\nCol1=90\r\n";

    // Five errors in event handlers: the program goes on after each; the terminate button
    // shows from the fourth on and restarts the program.
    Run run = RunProgram(program, "throw", "terminate");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    const auto terminate = Lines(run.output, "terminate ");
    ASSERT_EQ(terminate.size(), 4u) << run.output;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(terminate[i], "terminate hidden \"&Restart\"");
    }
    EXPECT_EQ(terminate[3], "terminate shown \"&Restart\"");
    // A ten-character message: the narrowest window, one row high.
    EXPECT_NE(run.output.find("dialog 1 \"Error.\" \"No room on the list.\"\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(run.output, std::regex("collapsed \\d+ \\d+ 250 86 text")));
    // The first expanded view comes from the file; each one after from where the last closed.
    const auto expanded = Lines(run.output, "expanded ");
    ASSERT_EQ(expanded.size(), 4u);
    EXPECT_EQ(expanded[0],
              "expanded 40 30 500 300 \"An error has occurred during program execution.");
    EXPECT_EQ(expanded[1].substr(0, 24), "expanded 60 50 520 330 \"");
    const std::string stored = ReadAll(ini);
    EXPECT_NE(stored.find("[Other]\r\nKept=1\r\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Width=520\r\nHeight=330\r\nLeft=60\r\nTop=50\r\n"), std::string::npos)
        << stored;
    EXPECT_NE(stored.find("Col1=90\r\n"), std::string::npos) << stored;
    // Restarted: a second process wrote its id (and ended at once). A sanitized build starts
    // slowly, so the wait is long.
    for (int i = 0; i < 1500 && Lines(ReadAll(folder_ / "pids.txt"), "").size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto pids = Lines(ReadAll(folder_ / "pids.txt"), "");
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_NE(pids[0], pids[1]);

    // A fault in the main thread: the dialog lists the frames down to the fault's function;
    // a stored window past the screen's edge comes back onto it.
    std::ofstream(ini) << "[Coordinates]\r\nWidth=500\r\nHeight=300\r\nLeft=5000\r\nTop=-20\r\n";
    run = RunProgram(program, "null", "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(std::regex_search(run.output, std::regex("\nexpanded \\d+ 0 500 300 ")));
    EXPECT_FALSE(std::regex_search(run.output, std::regex("\nexpanded 4[5-9]\\d\\d ")));
    EXPECT_TRUE(std::regex_search(
        run.output, std::regex("\nrow [0-9A-F]{8,}\\|window\\|fault_dialog_program\\.cpp\\|\\|"
                               "WriteThroughNull\\(\\)\\|\\d+ icon 1\n")))
        << run.output;
    TLogFile log((folder_ / "window.flog").string());
    ASSERT_TRUE(log.Load());
    // The four errors before the restart, then the fault.
    ASSERT_EQ(log.Items.size(), 4u + 1u);
    EXPECT_NE(log.Items[4].find("WriteThroughNull"), std::string::npos);
    // Its window and control as they were when it faulted.
    EXPECT_TRUE(std::regex_search(log.Items[4],
                                  std::regex("Form Class *: QMainWindow\r\n *Form Text *: Fault "
                                             "dialog program\r\n *Control Class *: QPushButton\r\n"
                                             " *Control Text *: Go on\r\n")))
        << log.Items[4];

    // A message wider than the limit wraps: the widest window, taller by the added rows.
    run = RunProgram(program, "throw-long", "");
    std::smatch size;
    const auto collapsedLines = Lines(run.output, "collapsed ");
    ASSERT_FALSE(collapsedLines.empty()) << run.output;
    const std::string collapsed = collapsedLines[0];
    ASSERT_TRUE(std::regex_match(
        collapsed, size, std::regex("collapsed \\d+ \\d+ (\\d+) (\\d+) text (\\d+) (\\d+)")))
        << collapsed;
    EXPECT_LE(std::stoi(size[3]), 582);
    EXPECT_EQ(std::stoi(size[1]), std::stoi(size[3]) + 74);
    EXPECT_GT(std::stoi(size[4]), 39);
    EXPECT_EQ(std::stoi(size[2]), std::stoi(size[4]) - 39 + 86);
}

TEST_F(FaultDialogTest, EveryFaultIsLoggedAndEndsInTimeWhateverThreadItHits) {
    const fs::path program =
        Instrumented("ends", "TerminateButtonAfter=0\nFilter=std::exception|Left to us.\n");
    const struct {
        const char* kind;
        const char* script;
        int exitCode;
        std::size_t reports;
        const char* output;  // a line the program printed
    } cases[] = {
        // The heap's lock is held by the window's thread: no dialog can appear, the report is
        // written and the process ends once the dialog's time is up.
        {"heap", "", 1, 1, ""},
        // A worker faults while the window's thread waits for it: the same.
        {"null-worker", "", 1, 1, ""},
        // Terminate starts the program again, which reports its own fault.
        {"null-again", "terminate", 1, 2, "dialog 1 "},
        // A standard exception filtered by a base class: its message, no report.
        {"throw-long", "", 0, 0, "inform \"Information.\" \"Left to us.\""},
    };
    const fs::path logFile = folder_ / "ends.flog";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
#if defined(__SANITIZE_ADDRESS__)
        // The address sanitizer stops the overrun itself, before the heap is damaged.
        if (std::string(c.kind) == "heap") {
            continue;
        }
#endif
        fs::remove(logFile);
        const auto start = std::chrono::steady_clock::now();
        const Run run = RunProgram(program, c.kind, c.script);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(25));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
        // The restarted program writes its report a moment after the first one ends.
        TLogFile log(logFile.string());
        for (int i = 0; i < 3000 && (log.Load(), log.Items.size() < c.reports); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(log.Items.size(), c.reports)
            << run.output << "pids: " << ReadAll(folder_ / "pids.txt");
    }
}

// The mail's question is asked in the window, whichever thread met the error, after the
// report's dialog: never on a terminal the window program may not have. The mail of the
// program's end (mode 1) waits for that end, after a report the program went on from, or goes
// before the program ends when the user terminates it.
TEST_F(FaultDialogTest, TheMailQuestionIsAskedInTheWindowAtItsTime) {
    const std::string question =
        "ask \"Question.\" \"May I send an email with occurred error(s) to the author of the "
        "program ?\"";
    const std::string mail = "EmailConfirmMode=0\nEmailAddresses=reports@example.org\n";
    const fs::path eachReport = Instrumented("each", "EmailSendMode=2\n" + mail);
    const fs::path atTheEnd =
        Instrumented("end", "EmailSendMode=1\nFreezeActive=1\nFreezeTimeout=2\n" + mail);
    const struct {
        const fs::path& program;
        const char* kind;
        const char* script;
        int exitCode;
        const char* before;  // a line the question must follow
        std::size_t questions;
    } cases[] = {
        // Mode 2: the window's thread faults, and asks once out of its handler.
        {eachReport, "null", "", 1, "dialog 1 ", 1},
        // A worker faults: the logger's thread asks through the window.
        {eachReport, "null-thread", "", 1, "dialog 1 ", 1},
        // An event handler's exception: asked, and the program goes on.
        {eachReport, "throw-long", "", 0, "dialog 1 ", 1},
        // Mode 1 after a frozen main thread: at the end, not at once.
        {atTheEnd, "freeze", "", 0, "woke", 1},
        // Mode 1 and Terminate: the mail goes before the program ends (and starts again).
        {atTheEnd, "throw", "terminate", 1, "collapsed again", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.program.filename().string());
        const Run run = RunProgram(c.program, c.kind, c.script);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_EQ(Lines(run.output, "ask ").size(), c.questions) << run.output;
        const auto asked = run.output.find(question);
        ASSERT_NE(asked, std::string::npos) << run.output;
        EXPECT_LT(run.output.find(c.before), asked) << run.output;
    }
}

TEST_F(FaultDialogTest, TheWatchdogReportsAFrozenMainThreadOnce) {
    const fs::path program = Instrumented("watched", "FreezeActive=1\nFreezeTimeout=2\n");
    const struct {
        const char* kind;
        std::size_t reports;
    } cases[] = {
        {"freeze", 1},  // the main thread sleeps 3.5 s
        {"responsive", 0},
        {"modal", 0},  // a message box of the program's own is open for 3.5 s
    };
    const fs::path logFile = folder_ / "watched.flog";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove(logFile);
        const Run run = RunProgram(program, c.kind, "");
        EXPECT_EQ(run.exitCode, 0);
        TLogFile log(logFile.string());
        log.Load();
        ASSERT_EQ(log.Items.size(), c.reports);
        if (c.reports) {
            const std::string& report = log.Items[0];
            EXPECT_NE(report.find("  Type   : EFrozenApplication\r\n"), std::string::npos);
            EXPECT_NE(report.find("The application seems to be frozen."), std::string::npos);
            EXPECT_TRUE(std::regex_search(
                report, std::regex("\\|fault_dialog_program\\.cpp *\\| *\\|SleepInMainThread")))
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
}  // namespace packmeter::qt
