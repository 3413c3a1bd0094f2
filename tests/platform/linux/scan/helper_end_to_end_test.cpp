// Exact btrfs sizes for everybody, end to end: the command-line tool's totals by algorithm
// equal compsize's, and a user without privileges sees, through a real polkitd and pkexec on a
// system bus started here, the same rows as root; refused or turned off, it says so once.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;

void Remount(const std::string& root, const std::string& compress) {
    RunCommand({"sync"});
    ASSERT_EQ(RunCommand({"mount", "-o", "remount,compress=" + compress, root}).status, 0);
}

// A tree holding data of all three algorithms and plain data, in sub-folders and at the top.
void WriteMixedTree(const std::string& root, const std::string& top) {
    fs::create_directories(top + "/a/deep");
    fs::create_directories(top + "/b");
    int n = 0;
    for (const char* compress : {"lzo", "zlib", "zstd", "no"}) {
        Remount(root, compress);
        for (const char* folder : {"/a/", "/a/deep/", "/b/", "/"}) {
            const std::string name = top + folder + compress + std::to_string(n++);
            WriteFile(name, Compressible(20000 + 9000 * n));
            WriteFile(name + "-small", Compressible(900 + n));
        }
        WriteFile(top + "/b/random-" + compress, Incompressible(70000, n));
    }
    RunCommand({"sync"});
}

// The "type percent disk uncompressed referenced" lines of a compsize-style table.
std::string TableLines(const std::string& text) {
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        std::string type, percent, disk, uncompressed, referenced;
        if (std::istringstream(line) >> type >> percent >> disk >> uncompressed >> referenced &&
            percent.ends_with('%')) {
            out += type + " " + percent + " " + disk + " " + uncompressed + " " + referenced + "\n";
        }
    }
    return out;
}

TEST(HelperEndToEndTest, ByAlgorithmTotalsEqualCompsizeOnATreeOfEveryAlgorithm) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    const std::string top = root + "/mixed";
    WriteMixedTree(root, top);
    const CommandResult cli = RunCommand({PACKMETER_CLI, "--by-algorithm", top});
    ASSERT_EQ(cli.status, 0) << cli.output;
    const std::string expected = TableLines(RunCommand({"compsize", "-b", top}).output);
    for (const char* type : {"TOTAL", "none", "lzo", "zlib", "zstd"}) {
        EXPECT_NE(expected.find(std::string(type) + " "), std::string::npos) << expected;
    }
    EXPECT_EQ(TableLines(cli.output), expected) << cli.output;
}

// A process started here, stopped (and reaped) at the end of the test.
class Daemon {
  public:
    explicit Daemon(const std::vector<std::string>& argv) {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd <= 2; ++fd) {
            ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
        ::posix_spawn_file_actions_destroy(&actions);
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
    ~Daemon() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t pid_ = -1;
};

// A file written for the test and removed at its end.
class PlacedFile {
  public:
    PlacedFile(std::string path, const std::string& text) : path_(std::move(path)) {
        std::ofstream(path_) << text;
    }
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;
    ~PlacedFile() { ::unlink(path_.c_str()); }

  private:
    std::string path_;
};

template <typename Condition>
bool WaitUntil(Condition condition) {
    // Generous: the daemons start slowly on a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tool as another user, with the helper of this build.
CommandResult RunAs(const std::string& uid, std::vector<std::string> args) {
    std::vector<std::string> argv = {
        "setpriv",
        "--reuid=" + uid,
        "--regid=" + uid,
        "--clear-groups",
        "env",
        std::string("PACKMETER_MEASURE_HELPER=") + PACKMETER_MEASURE_HELPER_BIN,
        PACKMETER_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
}

TEST(HelperEndToEndTest, UserSeesWhatRootSeesThroughPolkitAndPkexec) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    const std::string polkitd = "/usr/lib/polkit-1/polkitd";
    const std::string policy = "/usr/share/polkit-1/actions/org.packmeter.measure.policy";
    for (const std::string& tool :
         {polkitd, std::string("/usr/bin/pkexec"), std::string("/usr/bin/dbus-daemon")}) {
        if (::access(tool.c_str(), X_OK) != 0) {
            GTEST_SKIP() << tool << " is missing (tools/packages/test.txt)";
        }
    }
    if (::access(policy.c_str(), F_OK) == 0) {
        GTEST_SKIP() << "the installed package's policy is in place: not replaced by the test's";
    }
    const std::string top = root + "/tree";
    WriteMixedTree(root, top);

    // The package's action, naming this build's helper, and a rule that grants it to nobody
    // (who, started through setpriv, has no local session for the default to apply to).
    std::string text =
        ReadText(PACKMETER_SOURCE_DIR "/packaging/linux/org.packmeter.measure.policy.in");
    text.replace(text.find("@PACKMETER_HELPER_PATH@"), 23, PACKMETER_MEASURE_HELPER_BIN);
    text.replace(text.find("@PACKMETER_HOMEPAGE@"), 20, "https://packmeter.org/");
    const PlacedFile action(policy, text);
    ::mkdir("/etc/polkit-1/rules.d", 0755);
    const PlacedFile rule("/etc/polkit-1/rules.d/49-packmeter-measure-test.rules",
                          "polkit.addRule(function(action, subject) {\n"
                          "  if (action.id == \"org.packmeter.measure\" && subject.user == "
                          "\"nobody\") return polkit.Result.YES;\n});\n");
    // A system bus of the test's own unless one runs already, then the authorisation daemon.
    struct BusFiles {
        bool ours = false;
        ~BusFiles() {
            if (ours) {
                ::unlink("/run/dbus/pid");
                ::unlink("/run/dbus/system_bus_socket");
            }
        }
    } busFiles;
    std::unique_ptr<Daemon> bus;
    if (::access("/run/dbus/system_bus_socket", F_OK) != 0) {
        ::mkdir("/run/dbus", 0755);
        ::unlink("/run/dbus/pid");
        busFiles.ours = true;
        bus = std::make_unique<Daemon>(
            std::vector<std::string>{"/usr/bin/dbus-daemon", "--system", "--nofork"});
        ASSERT_TRUE(WaitUntil([] { return ::access("/run/dbus/system_bus_socket", F_OK) == 0; }));
    }
    const Daemon authority({polkitd, "--no-debug"});
    ASSERT_TRUE(WaitUntil([] {
        return RunCommand({"pkaction", "--action-id", "org.packmeter.measure"}).status == 0;
    })) << "polkitd did not come up";

    const CommandResult asRoot = RunCommand({PACKMETER_CLI, "--format", "json", top});
    ASSERT_EQ(asRoot.status, 0) << asRoot.output;
    EXPECT_NE(asRoot.output.find("\"zstd\": {"), std::string::npos) << asRoot.output;
    const CommandResult asNobody = RunAs("65534", {"--format", "json", top});
    EXPECT_EQ(asNobody.status, 0);
    EXPECT_EQ(asNobody.output, asRoot.output);
    const CommandResult tableAsNobody = RunAs("65534", {"--by-algorithm", top});
    EXPECT_EQ(TableLines(tableAsNobody.output),
              TableLines(RunCommand({PACKMETER_CLI, "--by-algorithm", top}).output));

    // Turned off, or not granted (no rule for this user and no agent to ask): one line saying
    // so, and the uncompressed sizes.
    const CommandResult off = RunAs("65534", {"--no-helper", "--format", "json", top});
    EXPECT_NE(off.output.find("measuring helper, which is turned off"), std::string::npos)
        << off.output;
    const CommandResult refused = RunAs("1", {"--format", "json", top});
    EXPECT_NE(refused.output.find("measuring helper was not authorised"), std::string::npos)
        << refused.output;
    for (const CommandResult* result : {&off, &refused}) {
        EXPECT_EQ(result->status, 0);
        EXPECT_NE(result->output, asRoot.output);
        const std::string first = result->output.substr(0, result->output.find('\n'));
        EXPECT_EQ(result->output.find("packmeter-cli: btrfs", first.size()), std::string::npos)
            << "said more than once: " << result->output;
    }
}

}  // namespace
}  // namespace packmeter::testing
