// The compression command on real volumes against other processes, kills, sparse files, deep
// trees and bad paths: no other process's change is lost, nothing is left half-done, and every
// failure says why.

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "platform/linux/scan/unique_fd.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

using linuxfs::UniqueFd;
using namespace std::chrono_literals;

// The command-line tool running in the background; its standard error goes to a file.
class Cli {
  public:
    Cli(const std::vector<std::string>& args, std::string errFile) : errFile_(std::move(errFile)) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open("/dev/null", O_WRONLY);
            const int err = ::open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(PACKMETER_CLI)};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(PACKMETER_CLI, argv.data());
            ::_exit(127);
        }
    }
    ~Cli() { Wait(); }
    void Kill(int signal) { ::kill(pid_, signal); }
    // Whether it still runs (has not ended, not even as a zombie).
    bool Running() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
    }
    // The exit status, or 128 + the signal that ended it.
    int Wait() {
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = 0;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_;
    }
    std::string Err() const {
        std::ifstream in(errFile_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::string errFile_;
    pid_t pid_ = -1;
    int status_ = -1;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Names in `folder` as the file system lists them, scratch folders included.
std::vector<std::string> RawNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

bool HasScratch(const std::string& folder) {
    for (const std::string& name : RawNames(folder)) {
        if (name.starts_with(".packmeter-")) {
            return true;
        }
    }
    return false;
}

bool WaitForScratch(const std::string& folder) {
    for (auto until = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(1ms)) {
        if (HasScratch(folder)) {
            return true;
        }
    }
    return false;
}

std::uint32_t NtfsAttrib(const std::string& path) {
    std::uint32_t value = 0;
    ::getxattr(path.c_str(), "system.ntfs_attrib", &value, sizeof value);
    return value;
}

class RewriteSafetyTest : public ::testing::Test {
  protected:
    std::string ErrFile() const { return area_.Folder() + "/stderr.txt"; }
    int RunCli(const std::vector<std::string>& args, std::string* err = nullptr) {
        Cli cli(args, ErrFile());
        const int status = cli.Wait();
        if (err) {
            *err = cli.Err();
        }
        return status;
    }
    TestArea area_;
};

// Another process acts on the file while its rewrite copies it: its doing is kept, the switch
// is abandoned and says why.
TEST_F(RewriteSafetyTest, AnotherProcessDuringTheRewriteKeepsItsChange) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string original = Compressible(48 << 20);
    struct Case {
        const char* what;
        // Run on a thread of its own once the rewrite has begun; a descriptor it returns is
        // written to after the command has ended.
        std::function<int(const std::string& file)> act;
        std::function<void(const std::string& file)> check;
        const char* reason;
    };
    const Case cases[] = {
        {"safe save",
         [](const std::string& file) {
             WriteFile(file + ".tmp", "saved");
             return ::rename((file + ".tmp").c_str(), file.c_str()) - 1;
         },
         [](const std::string& file) { EXPECT_EQ(ReadAll(file), "saved"); },
         "replaced by another file"},
        // Waits in open() until the rewrite gives up.
        {"late opener",
         [](const std::string& file) { return ::open(file.c_str(), O_WRONLY | O_APPEND); },
         [&](const std::string& file) { EXPECT_EQ(ReadAll(file), original + "late"); },
         "opened by another process"},
        {"truncate", [](const std::string& file) { return ::truncate(file.c_str(), 1000) - 1; },
         [&](const std::string& file) { EXPECT_EQ(ReadAll(file), original.substr(0, 1000)); },
         "opened by another process"},
        {"delete", [](const std::string& file) { return ::unlink(file.c_str()) - 1; },
         [](const std::string& file) { EXPECT_NE(::access(file.c_str(), F_OK), 0); },
         "moved or deleted by another process"},
        {"hard link",
         [](const std::string& file) { return ::link(file.c_str(), (file + "2").c_str()) - 1; },
         [&](const std::string& file) {
             EXPECT_EQ(ReadAll(file + "2"), original);
             struct stat a {
             }, b{};
             ::stat(file.c_str(), &a);
             ::stat((file + "2").c_str(), &b);
             EXPECT_EQ(a.st_ino, b.st_ino);
         },
         "linked to another name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = root + "/" + std::string(c.what) + "/";
        std::filesystem::create_directories(dir);
        const std::string file = dir + "file";
        WriteFile(file, original);
        Cli cli({"compress", file}, ErrFile());
        ASSERT_TRUE(WaitForScratch(dir));
        int lateFd = -1;
        std::thread actor([&] { lateFd = c.act(file); });
        const int status = cli.Wait();
        actor.join();
        if (lateFd >= 0) {
            EXPECT_EQ(::write(lateFd, "late", 4), 4);
            ::close(lateFd);
        }
        c.check(file);
        EXPECT_EQ(status, 1);
        EXPECT_NE(cli.Err().find(c.reason), std::string::npos) << cli.Err();
        EXPECT_FALSE(HasScratch(dir));
    }
}

// A log appender opens, appends and closes in a loop while compress and decompress alternate:
// every line arrives, in order.
TEST_F(RewriteSafetyTest, AppenderLoopLosesNoLine) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string file = root + "/log";
    const std::string start = Compressible(4 << 20);
    WriteFile(file, start);
    std::atomic<bool> done{false};
    int lines = 0;
    std::thread appender([&] {
        for (; !done; ++lines) {
            const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
            ASSERT_GE(fd, 0);
            const std::string line = "line " + std::to_string(lines) + "\n";
            ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::microseconds(200 * (lines % 7)));
        }
    });
    int switched = 0;
    for (int run = 0; run < 8; ++run) {
        switched += RunCli({run % 2 ? "decompress" : "compress", file}) == 0;
    }
    done = true;
    appender.join();
    std::string expected = start;
    for (int line = 0; line < lines; ++line) {
        expected += "line " + std::to_string(line) + "\n";
    }
    EXPECT_EQ(ReadAll(file), expected);
    EXPECT_FALSE(HasScratch(root));
    RecordProperty("switched", switched);
}

// kill -9 at random moments of compress and decompress over many files: each file is as it
// was or as switched, with its content, times and DOS bits; the next command leaves no scratch
// and gives back the DOS names.
TEST_F(RewriteSafetyTest, KilledAtRandomPointsLosesNothing) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string top = root + "/many/";
    std::filesystem::create_directories(top);
    constexpr int kFiles = 24;
    const auto name = [](int i) { return "f" + std::to_string(i); };
    for (int i = 0; i < kFiles; ++i) {
        const std::string file = top + name(i);
        WriteFile(file, Compressible(200000 + 90000 * i) + std::to_string(i));
        if (i % 3 == 0) {
            const std::string dos = "F" + std::to_string(i) + "~1";
            ASSERT_EQ(::setxattr(file.c_str(), "system.ntfs_dos_name", dos.data(), dos.size(), 0),
                      0);
        }
        const std::uint32_t hidden = NtfsAttrib(file) | 0x2;
        ASSERT_EQ(::setxattr(file.c_str(), "system.ntfs_attrib", &hidden, 4, 0), 0);
        const timespec times[2] = {{1000000000 + i, 0}, {1100000000 + i, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    const std::string hashes = TreeSha256(top);
    const auto check = [&](bool strict) {
        for (int i = 0; i < kFiles; ++i) {
            const std::string file = top + name(i);
            struct stat st {};
            if (::stat(file.c_str(), &st) != 0) {
                // Only in the moment between moving the original aside and linking the copy in.
                EXPECT_FALSE(strict) << file;
                EXPECT_TRUE(HasScratch(top)) << file;
                continue;
            }
            EXPECT_EQ(st.st_mtim.tv_sec, 1100000000 + i) << file;
            EXPECT_TRUE(NtfsAttrib(file) & 0x2) << file;
        }
        if (strict) {
            EXPECT_EQ(TreeSha256(top), hashes);
            EXPECT_FALSE(HasScratch(top));
            EXPECT_EQ(RawNames(top).size(), static_cast<std::size_t>(kFiles));
        }
    };
    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
    for (int round = 0; round < 10; ++round) {
        Cli cli({round % 2 ? "decompress" : "compress", top}, ErrFile());
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1200));
        cli.Kill(SIGKILL);
        cli.Wait();
        check(false);
    }
    for (const char* command : {"compress", "decompress"}) {
        std::string err;
        ASSERT_EQ(RunCli({command, top}, &err), 0) << err;
        check(true);
    }
    for (int i = 0; i < kFiles; i += 3) {
        char dos[32] = {};
        ::getxattr((top + name(i)).c_str(), "system.ntfs_dos_name", dos, sizeof dos - 1);
        EXPECT_EQ(std::string(dos), "F" + std::to_string(i) + "~1");
    }
}

// SIGINT and SIGTERM end a command after the current file, with the scratch removed.
TEST_F(RewriteSafetyTest, InterruptEndsTheCommandCleanly) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, root);
    const std::string top = root + "/tree/";
    std::filesystem::create_directories(top);
    for (int i = 0; i < 12; ++i) {
        WriteFile(top + std::to_string(i), Compressible(6 << 20));
    }
    const std::string hashes = TreeSha256(top);
    // A second signal abandons the file in hand at once.
    for (const auto& [signal, times] : {std::pair{SIGINT, 1}, {SIGTERM, 1}, {SIGINT, 2}}) {
        Cli cli({"compress", top}, ErrFile());
        ASSERT_TRUE(WaitForScratch(top));
        cli.Kill(signal);
        bool again = false;
        if (times == 2) {
            // Once the first has been taken (a second one pending with it would merge into it),
            // while the command still runs.
            for (auto until = std::chrono::steady_clock::now() + 20s;
                 std::chrono::steady_clock::now() < until &&
                 cli.Err().find("stopping") == std::string::npos;
                 std::this_thread::sleep_for(1ms)) {
            }
            again = cli.Running();
            cli.Kill(signal);
        }
        EXPECT_EQ(cli.Wait(), 128 + signal);
        EXPECT_NE(cli.Err().find(signal == SIGINT ? "interrupted" : "terminated"),
                  std::string::npos);
        EXPECT_NE(cli.Err().find("stopping once the file in hand"), std::string::npos) << cli.Err();
        if (again) {
            EXPECT_NE(cli.Err().find("abandoning"), std::string::npos) << cli.Err();
        }
        EXPECT_FALSE(HasScratch(top));
        EXPECT_EQ(TreeSha256(top), hashes);
    }
}

// A sparse file keeps its holes and its sparse attribute through compress and decompress; on
// NTFS it is not compressed, which the command says (exit 1).
TEST_F(RewriteSafetyTest, SparseFileStaysSparse) {
    for (const VolumeType type : {VolumeType::kNtfs, VolumeType::kBtrfs}) {
        std::string why;
        const std::string root = area_.Volume(type, why);
        if (root.empty()) {
            GTEST_SKIP() << why;
        }
        const std::string file = root + "/sparse";
        {
            const UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
            ASSERT_EQ(::ftruncate(fd.get(), 300 << 20), 0);
            ASSERT_EQ(::pwrite(fd.get(), "data", 4, 100 << 20), 4);
        }
        ::sync();
        const std::int64_t before = AllocatedBytes(file);
        const std::string hash = TreeSha256(root);
        for (const char* command : {"compress", "decompress"}) {
            std::string err;
            const bool refused =
                type == VolumeType::kNtfs && std::string_view(command) == "compress";
            EXPECT_EQ(RunCli({command, file}, &err), refused ? 1 : 0) << err;
            if (refused) {
                EXPECT_NE(err.find("sparse files are left as they are on this volume"),
                          std::string::npos)
                    << err;
            }
            ::sync();
            EXPECT_LE(AllocatedBytes(file), std::max<std::int64_t>(before, 64 << 10)) << command;
            if (type == VolumeType::kNtfs) {
                EXPECT_TRUE(NtfsAttrib(file) & 0x200) << command;
            }
        }
        EXPECT_EQ(TreeSha256(root), hash);
    }
}

// A tree 30,000 folders deep is compressed, decompressed and measured down to its last folder.
TEST_F(RewriteSafetyTest, DeepTreeRoundTrips) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    UniqueFd at(::open(root.c_str(), O_RDONLY | O_DIRECTORY));
    for (int depth = 0; depth < 30000; ++depth) {
        ASSERT_EQ(::mkdirat(at.get(), "d", 0755), 0);
        at = UniqueFd(::openat(at.get(), "d", O_RDONLY | O_DIRECTORY));
    }
    const UniqueFd bottom(::openat(at.get(), "file", O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(::write(bottom.get(), "text", 4), 4);
    const auto flags = [&] {
        int value = 0;
        ::ioctl(at.get(), FS_IOC_GETFLAGS, &value);
        return value;
    };
    for (const char* command : {"compress", "decompress"}) {
        std::string err;
        EXPECT_EQ(RunCli({command, root + "/d"}, &err), 0) << err;
        EXPECT_EQ((flags() & FS_COMPR_FL) != 0, std::string_view(command) == "compress");
    }
    // Measured down to its last folder too, by a scan's walk and by the sequential one.
    EXPECT_EQ(WalkSizes(root).logical, 4);
    const ScanResult scan = ScanFolder(root + "/");
    EXPECT_EQ(scan.totals.size, 4);
    EXPECT_EQ(scan.totals.unreadable, 0);
}

// Paths that cannot be switched: exit 2 before anything is touched for a bad path, exit 1 with
// the reason for a file that cannot be switched.
TEST_F(RewriteSafetyTest, FailuresNameTheirReason) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, ntfs);
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kTmpfs, tmpfs);
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, btrfs);
    {
        // No copy-on-write, set while the file is empty.
        const UniqueFd nocow(::open((btrfs + "/nocow").c_str(), O_RDWR | O_CREAT, 0644));
        int flags = FS_NOCOW_FL;
        ASSERT_EQ(::ioctl(nocow.get(), FS_IOC_SETFLAGS, &flags), 0);
        ASSERT_EQ(::write(nocow.get(), "data", 4), 4);
    }
    // ntfs-3g mounted so that named streams are not shown as attributes: they could not be
    // carried over, so every file is refused with that reason; and mounted with nocompression.
    std::string why;
    const std::string windowsStreams =
        area_.Volume(VolumeType::kNtfs, why, "streams_interface=windows");
    const std::string noStreams = area_.Volume(VolumeType::kLowNtfs, why, "streams_interface=none");
    const std::string noCompression = area_.Volume(VolumeType::kNtfs, why, "nocompression");
    ASSERT_FALSE(windowsStreams.empty() || noStreams.empty() || noCompression.empty()) << why;
    for (const std::string& root : {windowsStreams, noStreams, noCompression}) {
        WriteFile(root + "/file", Compressible(10000));
    }
    WriteFile(ntfs + "/linked", "x");
    ASSERT_EQ(::link((ntfs + "/linked").c_str(), (ntfs + "/other").c_str()), 0);
    WriteFile(ntfs + "/held", Compressible(10000));
    WriteFile(tmpfs + "/plain", "x");
    ::symlink("loop2", (tmpfs + "/loop1").c_str());
    ::symlink("loop1", (tmpfs + "/loop2").c_str());
    // A process that keeps the file open and is named in the message: the shell opens the file
    // as descriptor 3 and becomes "sleep", which keeps it open.
    const std::string held = ntfs + "/held";
    const pid_t sleeper = ::fork();
    if (sleeper == 0) {
        ::execlp("sh", "sh", "-c", "exec sleep 600 3<\"$0\"", held.c_str(), nullptr);
        ::_exit(127);
    }
    // Until it runs as "sleep" with the file open (slow to come under a sanitizer and load).
    const auto holds = [&] {
        std::ifstream comm("/proc/" + std::to_string(sleeper) + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name != "sleep") {
            return false;
        }
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator(
                 "/proc/" + std::to_string(sleeper) + "/fd", error)) {
            if (std::filesystem::read_symlink(fd.path(), error) == std::filesystem::path(held)) {
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < 200 && !holds(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(holds());
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"compress", ntfs + "/nonexistent"}, 2, "no such file or folder"},
        {{"compress", ""}, 2, "empty path"},
        {{"decompress", tmpfs + "/loop1"}, 2, "symbolic-link loop"},
        {{"compress", tmpfs + "/loop1/x"}, 2, "symbolic-link loop"},
        {{tmpfs + "/loop1"}, 2, "symbolic-link loop"},
        {{"compress", tmpfs + "/plain"}, 1, "the file system (tmpfs) does not compress files"},
        {{"compress", ntfs + "/linked"}, 1, "has 2 hard links"},
        {{"compress", btrfs + "/nocow"}, 1, "no-copy-on-write"},
        {{"compress", std::string("bad\x1b[2Jname")}, 2, "bad\\x1b[2Jname"},
        {{"compress", ntfs + "/held"},
         1,
         "in use by process " + std::to_string(sleeper) + " (sleep)"},
        {{"compress", windowsStreams + "/file"},
         1,
         "its named streams cannot be copied on this mount (mounted without "
         "streams_interface=xattr)"},
        {{"compress", noStreams + "/file"}, 1, "its named streams cannot be copied on this mount"},
        {{"compress", noCompression + "/file"}, 1, "mounted with the option nocompression"},
    };
    for (const auto& c : cases) {
        std::string err;
        EXPECT_EQ(RunCli(c.args, &err), c.status) << c.args.back();
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

// A volume's root is switched when named itself, and rows on several volumes carry their paths
// and file systems.
TEST_F(RewriteSafetyTest, MountRootsAndSeveralVolumes) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, btrfs);
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kNtfs, ntfs);
    WriteFile(btrfs + "/inside", Compressible(300000));
    WriteFile(ntfs + "/file", Compressible(300000));
    const CommandResult root = RunCommand({PACKMETER_CLI, "compress", btrfs});
    EXPECT_EQ(root.status, 0) << root.output;
    EXPECT_NE(root.output.find("File System: btrfs"), std::string::npos) << root.output;
    EXPECT_LT(CompsizeBytes(btrfs + "/inside"), 300000 / 4);
    const CommandResult both = RunCommand(
        {PACKMETER_CLI, "--format", "tsv", "decompress", btrfs + "/inside", ntfs + "/file"});
    EXPECT_EQ(both.status, 0) << both.output;
    EXPECT_NE(both.output.find(btrfs + "/inside\t"), std::string::npos) << both.output;
    EXPECT_NE(both.output.find(ntfs + "/file\t"), std::string::npos) << both.output;
    // Each row names its own file system, in the table and in JSON.
    const CommandResult table =
        RunCommand({PACKMETER_CLI, "compress", btrfs + "/inside", ntfs + "/file"});
    EXPECT_NE(table.output.find("[btrfs]"), std::string::npos) << table.output;
    EXPECT_NE(table.output.find("[NTFS]"), std::string::npos) << table.output;
    const CommandResult json = RunCommand(
        {PACKMETER_CLI, "--format", "json", "compress", btrfs + "/inside", ntfs + "/file"});
    EXPECT_NE(json.output.find("\"file_system\": \"btrfs\", \"supports_compression\": true}"),
              std::string::npos)
        << json.output;
}

}  // namespace
}  // namespace packmeter::testing
