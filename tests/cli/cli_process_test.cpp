#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/cli/output_parsing.hpp"

namespace packmeter::cli {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tool as its own process, its output sent to `outPath` (read back unless it is a device),
// as the unprivileged user "nobody" when asked and the test runs as root.
ToolRun RunTool(const std::vector<std::string>& args, const fs::path& scratch,
                const std::string& outPath = {}, bool asNobody = false) {
    const fs::path out = outPath.empty() ? scratch / "out" : fs::path(outPath);
    const fs::path err = scratch / "err";
    std::vector<char*> argv{const_cast<char*>(PACKMETER_CLI)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) {
            ::_exit(99);
        }
        if (asNobody && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0)) {
            ::_exit(98);
        }
        ::execv(argv[0], argv.data());
        ::_exit(97);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ToolRun run;
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (fs::is_regular_file(out)) {
        run.out = ReadFile(out);
    }
    run.err = ReadFile(err);
    return run;
}

class CliProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = fs::temp_directory_path() /
                   ("packmeter-cli-process-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(scratch_);
        tree_ = scratch_ / "tree";
        fs::create_directories(tree_ / "open");
        std::ofstream(tree_ / "open" / "a.txt") << std::string(5000, 'a');
        // Everyone may walk to the tree and write the scratch files.
        fs::permissions(scratch_, fs::perms::all);
    }
    void TearDown() override {
        RestorePermissions(scratch_);
        fs::remove_all(scratch_);
    }
    static void RestorePermissions(const fs::path& folder) {
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_directory() && !entry.is_symlink()) {
                RestorePermissions(entry.path());
            }
        }
    }

    fs::path scratch_;
    fs::path tree_;
};

// Output that cannot be written (a full disk) fails the command whatever it printed.
TEST_F(CliProcess, WriteFailureExitsTwoWithAMessage) {
    const std::string tree = tree_.string();
    const std::vector<std::vector<std::string>> commands = {
        {tree},
        {"--format", "tsv", tree},
        {"--format", "json", tree},
        {"--help"},
        {"--version"},
        {"decompress", (tree_ / "open").string()},
    };
    for (const auto& args : commands) {
        const std::string shown = ::testing::PrintToString(args);
        const ToolRun full = RunTool(args, scratch_, "/dev/full");
        if (full.err.find("does not compress files") != std::string::npos) {
            // A volume that cannot compress is said once, before anything is written.
            EXPECT_EQ(full.exit, 1) << full.err;
            EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
            continue;
        }
        EXPECT_EQ(full.exit, 2) << shown << full.err;
        EXPECT_NE(full.err.find("packmeter-cli: cannot write the output: "), std::string::npos)
            << shown << full.err;
        // The same command into a file writes its output and ends with its own result.
        const ToolRun file = RunTool(args, scratch_);
        EXPECT_LT(file.exit, 2) << shown << file.err;
        EXPECT_FALSE(file.out.empty()) << shown;
    }
}

// Folders that cannot be read count as unreadable and say so in every output; links and mount
// points keep their 0 bytes and are marked as what they are.
TEST_F(CliProcess, UnreadableEntriesLinksAndMountsAreMarked) {
    fs::create_directories(tree_ / "closed");
    std::ofstream(tree_ / "closed" / "b.txt") << std::string(8000, 'b');
    fs::create_directories(tree_ / "searchless" / "sub");
    std::ofstream(tree_ / "searchless" / "c.txt") << std::string(9000, 'c');
    fs::create_directories(tree_ / "deep" / "one" / "two" / "closed");
    std::ofstream(tree_ / "deep" / "one" / "d.txt") << std::string(3000, 'd');
    fs::create_directory_symlink("open", tree_ / "link");
    fs::permissions(tree_ / "closed", fs::perms::none);
    fs::permissions(tree_ / "deep" / "one" / "two" / "closed", fs::perms::none);
    // Readable but not searchable: its names can be listed, nothing about them read.
    fs::permissions(tree_ / "searchless",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const bool root = ::geteuid() == 0;
    bool mounted = false;
    if (root) {
        fs::create_directories(tree_ / "mnt");
        mounted = ::mount("tmpfs", (tree_ / "mnt").c_str(), "tmpfs", 0, "size=1m") == 0;
        EXPECT_TRUE(mounted) << "root could not mount a tmpfs";
        std::ofstream(tree_ / "mnt" / "e.txt") << std::string(7000, 'e');
    }
    const struct Unmount {
        bool mounted;
        fs::path at;
        ~Unmount() {
            if (mounted) {
                ::umount2(at.c_str(), MNT_DETACH);
            }
        }
    } unmount{mounted, tree_ / "mnt"};

    const ToolRun table = RunTool({tree_.string()}, scratch_, {}, true);
    ASSERT_EQ(table.exit, 0) << table.err;
    // closed, the two names inside searchless, deep/one/two/closed.
    EXPECT_NE(table.err.find("packmeter-cli: 4 entries could not be read"), std::string::npos)
        << table.err;
    const struct {
        const char* start;
        const char* note;  // at the end of the row
    } rows[] = {
        {"closed/ ", "  [1 unreadable]\n"},
        {"searchless/ ", "  [2 unreadable]\n"},
        {"deep/ ", "  [1 unreadable]\n"},
        {"link/ ", "  [link]\n"},
        {"open/ ", " %\n"},
    };
    EXPECT_NE(table.out.find("\nUnreadable:  4 entries could not be read\n"), std::string::npos)
        << table.out;
    for (const auto& row : rows) {
        const std::size_t at = table.out.find(std::string("\n") + row.start);
        ASSERT_NE(at, std::string::npos) << row.start << table.out;
        const std::size_t end = table.out.find('\n', at + 1) + 1;
        EXPECT_EQ(
            table.out.substr(end - std::string(row.note).size(), std::string(row.note).size()),
            row.note)
            << table.out.substr(at, end - at);
    }
    if (mounted) {
        EXPECT_NE(table.out.find("\nmnt/ "), std::string::npos);
        EXPECT_NE(table.out.find("[mount point]\n"), std::string::npos) << table.out;
    }

    const ToolRun json = RunTool({"--format", "json", tree_.string()}, scratch_, {}, true);
    ASSERT_EQ(json.exit, 0) << json.err;
    const auto parsed = ParseJson(json.out);
    ASSERT_TRUE(parsed) << json.out;
    EXPECT_EQ(parsed->Find("totals")->Find("unreadable")->text, "4");
    EXPECT_EQ(parsed->Find("totals")->Find("size")->text, "8000") << json.out;
    const struct {
        const char* name;
        const char* kind;
        bool unreadable;
        const char* size;
    } expected[] = {
        {"closed", "folder", true, "0"},   {"searchless", "folder", true, "0"},
        {"deep", "folder", true, "3000"},  {"link", "link", false, "0"},
        {"open", "folder", false, "5000"}, {"mnt", "mount", false, "0"},
    };
    for (const auto& want : expected) {
        if (std::string(want.name) == "mnt" && !mounted) {
            continue;
        }
        const JsonValue* found = nullptr;
        for (const JsonValue& entry : parsed->Find("entries")->items) {
            if (ExactName(entry) == want.name) {
                found = &entry;
            }
        }
        ASSERT_NE(found, nullptr) << want.name;
        EXPECT_EQ(found->Find("kind")->text, want.kind) << want.name;
        EXPECT_EQ(found->Find("unreadable")->boolean, want.unreadable) << want.name;
        EXPECT_EQ(found->Find("size")->text, want.size) << want.name;
    }

    // The folder itself unreadable: nothing to show, exit 2.
    const ToolRun closed = RunTool({(tree_ / "closed").string()}, scratch_, {}, true);
    EXPECT_EQ(closed.exit, 2) << closed.out;
    EXPECT_NE(closed.err.find("cannot be read"), std::string::npos) << closed.err;
}

}  // namespace
}  // namespace packmeter::cli
