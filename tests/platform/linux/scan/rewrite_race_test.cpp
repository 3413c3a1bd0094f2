// The NTFS rewrite held at each of its steps while another process touches the file in every
// way it can, on ntfs-3g and lowntfs-3g: the other process's doing is never lost, undone or
// hidden, nothing of the user's is moved away, and one file is left at the name.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "platform/linux/scan/ntfs3g_rewrite.hpp"
#include "platform/linux/scan/unique_fd.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

using linuxfs::RewriteStep;
using linuxfs::UniqueFd;
using namespace std::chrono_literals;

constexpr const char* kName = "Long File Name.txt";
constexpr const char* kShortName = "LONGFI~1.TXT";
constexpr time_t kMtime = 1100000000;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                names.insert(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

std::uint32_t Attrib(const std::string& path) {
    std::uint32_t value = 0;
    ::getxattr(path.c_str(), "system.ntfs_attrib", &value, sizeof value);
    return value;
}

int Write(const std::string& path, int flags, const char* text, off_t at) {
    const UniqueFd fd(::open(path.c_str(), flags, 0644));
    const ssize_t size = static_cast<ssize_t>(std::strlen(text));
    const bool written = fd && (at < 0 ? ::write(fd.get(), text, size) == size
                                       : ::pwrite(fd.get(), text, size, at) == size);
    return written ? 0 : 1;
}

struct Interference {
    const char* what;
    // Run in a process of its own; 0 when it did what it meant to do.
    std::function<int(const std::string& dir, const std::string& file)> act;
    // What the folder must hold afterwards, given whether the other process succeeded.
    std::function<void(const std::string& dir, const std::string& file, bool acted,
                       const std::string& original)>
        check;
    // Names besides the file that may be left in the folder when it acted.
    std::set<std::string> extra = {};
};

// The file's times as stored on the volume, not as the driver holds them in memory: ntfs-3g
// keeps the last 64 inodes it used, so 80 others are used first (in a folder beside the test's
// folder, made once), then the times are asked of the driver itself.
struct statx StoredTimes(const std::string& dir, const std::string& file) {
    const std::string others = dir + "/../others";
    if (::access(others.c_str(), F_OK) != 0) {
        std::filesystem::create_directories(others);
        for (int i = 0; i < 80; ++i) {
            WriteFile(others + "/" + std::to_string(i), "x");
        }
    }
    for (int i = 0; i < 80; ++i) {
        std::uint32_t attrib = 0;
        ::getxattr((others + "/" + std::to_string(i)).c_str(), "system.ntfs_attrib", &attrib,
                   sizeof attrib);
    }
    struct statx stx {};
    ::statx(AT_FDCWD, file.c_str(), AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, &stx);
    return stx;
}

void ExpectContent(const std::string& file, const std::string& content) {
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0) << "no file at the name";
    ASSERT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, static_cast<off_t>(content.size()));
    EXPECT_TRUE(ReadAll(file) == content) << "content differs";
}

const Interference kInterferences[] = {
    {"write",
     [](const std::string&, const std::string& file) {
         return Write(file, O_WRONLY, "WRITTEN", 0);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, acted ? "WRITTEN" + original.substr(7) : original);
     }},
    {"append",
     [](const std::string&, const std::string& file) {
         return Write(file, O_WRONLY | O_APPEND, "late", -1);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, acted ? original + "late" : original);
     }},
    // Opened while the name is free (between moving the original aside and linking the copy
    // in), it makes a new file: that file stays at the name and the original is kept beside
    // it, both told. Nothing is lost, but the history is in two files.
    {"append O_CREAT",
     [](const std::string&, const std::string& file) {
         return Write(file, O_WRONLY | O_APPEND | O_CREAT, "late", -1);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         if (::access((file + ".packmeter-kept").c_str(), F_OK) == 0) {
             ExpectContent(file, "late");
             ExpectContent(file + ".packmeter-kept", original);
         } else {
             ExpectContent(file, acted ? original + "late" : original);
         }
     },
     {std::string(kName) + ".packmeter-kept"}},
    {"truncate",
     [](const std::string&, const std::string& file) { return ::truncate(file.c_str(), 1000); },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, acted ? original.substr(0, 1000) : original);
     }},
    {"rename over",
     [](const std::string& dir, const std::string& file) {
         return Write(dir + "/saved.tmp", O_WRONLY | O_CREAT | O_EXCL, "saved", 0) ||
                ::rename((dir + "/saved.tmp").c_str(), file.c_str());
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, acted ? "saved" : original);
         // Saved while the name was free: the original is kept beside it.
         if (::access((file + ".packmeter-kept").c_str(), F_OK) == 0) {
             ExpectContent(file + ".packmeter-kept", original);
         }
     },
     {"saved.tmp", std::string(kName) + ".packmeter-kept"}},
    {"folder in its place",
     [](const std::string&, const std::string& file) {
         return ::unlink(file.c_str()) || ::mkdir(file.c_str(), 0755);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         if (acted) {
             struct stat st {};
             EXPECT_TRUE(::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
         } else if (::access(file.c_str(), F_OK) == 0) {
             ExpectContent(file, original);
         }
     }},
    {"delete", [](const std::string&, const std::string& file) { return ::unlink(file.c_str()); },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         if (acted) {
             EXPECT_NE(::access(file.c_str(), F_OK), 0) << "the deleted file came back";
         } else {
             ExpectContent(file, original);
         }
     }},
    {"hard link",
     [](const std::string& dir, const std::string& file) {
         return ::link(file.c_str(), (dir + "/second").c_str());
     },
     [](const std::string& dir, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, original);
         if (acted) {
             struct stat a {
             }, b{};
             ::stat(file.c_str(), &a);
             ::stat((dir + "/second").c_str(), &b);
             EXPECT_EQ(a.st_ino, b.st_ino) << "the link leads to another file";
         }
     },
     {"second"}},
    {"mkdir at the name",
     [](const std::string&, const std::string& file) { return ::mkdir(file.c_str(), 0755); },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         if (acted) {
             struct stat st {};
             EXPECT_TRUE(::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
             ExpectContent(file + ".packmeter-kept", original);
         } else {
             ExpectContent(file, original);
         }
     },
     {std::string(kName) + ".packmeter-kept"}},
    {"stream",
     [](const std::string&, const std::string& file) {
         return ::setxattr(file.c_str(), "user.note", "noted", 5, 0);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, original);
         char value[16] = {};
         const bool noted = ::getxattr(file.c_str(), "user.note", value, sizeof value) == 5;
         EXPECT_EQ(noted, acted) << "the stream written meanwhile";
     }},
    {"DOS bits",
     [](const std::string&, const std::string& file) {
         std::uint32_t bits = Attrib(file) | 0x2;  // hidden
         return ::setxattr(file.c_str(), "system.ntfs_attrib", &bits, 4, 0);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, original);
         EXPECT_EQ((Attrib(file) & 0x2) != 0, acted) << "the hidden bit set meanwhile";
     }},
    {"touch",
     [](const std::string&, const std::string& file) {
         const timespec times[2] = {{1234567890, 0}, {1234567890, 0}};
         return ::utimensat(AT_FDCWD, file.c_str(), times, 0);
     },
     [](const std::string& dir, const std::string& file, bool acted, const std::string& original) {
         // The times before the content: reading it sets the access time. As stored: a time the
         // driver shows but does not keep would be lost at the next remount.
         const struct statx stx = StoredTimes(dir, file);
         EXPECT_EQ(stx.stx_mtime.tv_sec, acted ? 1234567890 : kMtime) << "the modification time";
         // The access time as it was where the other process did not act; where it did, its
         // time or a later one: a switch abandoned for the touch has read the original after
         // it, which ntfs-3g counts as an access (also with O_NOATIME, which FUSE does not pass
         // on), but the touch is never undone.
         if (acted) {
             EXPECT_GE(stx.stx_atime.tv_sec, 1234567890) << "the access time";
         } else {
             EXPECT_EQ(stx.stx_atime.tv_sec, kMtime) << "the access time";
         }
         ExpectContent(file, original);
     }},
    {"short-name write",
     [](const std::string& dir, const std::string&) {
         return Write(dir + "/" + kShortName, O_WRONLY, "SHORT", 0);
     },
     [](const std::string&, const std::string& file, bool acted, const std::string& original) {
         ExpectContent(file, acted ? "SHORT" + original.substr(5) : original);
     }},
};

const std::pair<RewriteStep, const char*> kSteps[] = {
    {RewriteStep::kGuarded, "lease taken"},       {RewriteStep::kCopied, "copy checked"},
    {RewriteStep::kMovedAside, "original aside"}, {RewriteStep::kLinkedIn, "copy linked in"},
    {RewriteStep::kDropped, "original dropped"},
};

// Forks the other process at the held step and lets the rewrite go on once that process has
// done its part or waits in open() for the lease, which it then has broken.
class Actor {
  public:
    void Start(const Interference& interference, const std::string& dir, const std::string& file,
               const std::function<bool()>& guarded) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::_exit(interference.act(dir, file));
        }
        for (auto until = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(1ms)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                acted_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                return;
            }
            if (!guarded()) {
                return;  // it waits in open() until the rewrite lets go of the file
            }
        }
        ADD_FAILURE() << "the other process neither ended nor broke the lease";
    }
    // Whether the other process succeeded, once it has ended.
    bool Acted() {
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            acted_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        return acted_;
    }

  private:
    pid_t pid_ = -1;
    bool acted_ = false;
};

TEST(RewriteRaceTest, EveryInterferenceAtEveryStepKeepsTheOtherProcessesDoing) {
    TestArea area;
    const std::string original = Compressible(300000);
    std::printf("%-12s | %-18s | %-16s | %-5s | %s\n", "mount", "interference", "step", "acted",
                "rewrite");
    for (const auto& [type, mount] :
         {std::pair{VolumeType::kNtfs, "ntfs-3g"}, std::pair{VolumeType::kLowNtfs, "lowntfs-3g"}}) {
        std::string why;
        const std::string root = area.Volume(type, why);
        if (root.empty()) {
            GTEST_SKIP() << why;
        }
        for (const Interference& interference : kInterferences) {
            for (const auto& [step, stepName] : kSteps) {
                SCOPED_TRACE(std::string(mount) + ", " + interference.what + ", " + stepName);
                const std::string dir =
                    root + "/" + interference.what + " " + std::to_string(int(step));
                std::filesystem::create_directories(dir);
                const std::string file = dir + "/" + kName;
                WriteFile(file, original);
                ASSERT_EQ(::setxattr(file.c_str(), "system.ntfs_dos_name", kShortName,
                                     std::strlen(kShortName), 0),
                          0);
                const timespec times[2] = {{kMtime, 0}, {kMtime, 0}};
                ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

                Actor actor;
                linuxfs::SetRewriteStepHook(
                    [&](RewriteStep at, const std::function<bool()>& guarded) {
                        if (at == step) {
                            actor.Start(interference, dir, file, guarded);
                        }
                    });
                const UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
                std::string reason;
                const bool switched = linuxfs::RewriteNtfsFile(dirFd.get(), kName, false, reason);
                linuxfs::SetRewriteStepHook({});
                const bool acted = actor.Acted();
                std::printf("%-12s | %-18s | %-16s | %-5s | %s\n", mount, interference.what,
                            stepName, acted ? "yes" : "no",
                            switched ? "switched" : ("refused: " + reason).c_str());

                interference.check(dir, file, acted, original);
                std::set<std::string> allowed = interference.extra;
                allowed.insert(kName);
                for (const std::string& name : Names(dir)) {
                    EXPECT_TRUE(allowed.contains(name)) << "left in the folder: " << name;
                }
                if (!switched) {
                    EXPECT_FALSE(reason.empty());
                }
            }
        }
    }
}

}  // namespace
}  // namespace packmeter::testing

namespace packmeter::testing {
namespace {

// Folders of the user's named like scratch folders (".packmeter-PID-N", of a process that has
// ended and of the test's own) are counted by scans and left untouched by a command beside
// them; only a folder holding the rewrite's own marker is one.
TEST(RewriteRaceTest, UserFoldersNamedLikeScratchFoldersStayTheUsers) {
    TestArea area;
    for (const VolumeType type : {VolumeType::kNtfs, VolumeType::kTmpfs}) {
        std::string why;
        const std::string root = area.Volume(type, why);
        if (root.empty()) {
            GTEST_SKIP() << why;
        }
        const std::string file = root + "/file";
        WriteFile(file, Compressible(100000));
        std::vector<std::string> folders;
        for (const std::string& pid : {std::string("999999"), std::to_string(::getpid())}) {
            const std::string folder = root + "/.packmeter-" + pid + "-1";
            std::filesystem::create_directories(folder);
            for (const char* name : {"data", "state", "original", "owner"}) {
                WriteFile(folder + "/" + name, std::string(250000, 'u'));
            }
            folders.push_back(folder);
        }
        // What a rewrite killed between making its marker and writing it leaves: removed.
        const std::string killedEarly = root + "/.packmeter-999999-2";
        std::filesystem::create_directories(killedEarly);
        WriteFile(killedEarly + "/owner", "");
        RunCommand({PACKMETER_CLI, "compress", file});
        RunCommand({PACKMETER_CLI, "decompress", root});
        EXPECT_FALSE(std::filesystem::exists(killedEarly));
        for (const std::string& folder : folders) {
            for (const char* name : {"data", "state", "original", "owner"}) {
                EXPECT_EQ(ReadAll(folder + "/" + name), std::string(250000, 'u')) << folder << name;
            }
        }
        EXPECT_GE(ScanFolder(root + "/").totals.size, 2 * 4 * 250000 + 100000);
    }
}

}  // namespace
}  // namespace packmeter::testing

namespace packmeter::testing {
namespace {

// A rewrite killed (SIGKILL) at each of its steps, followed by each kind of next command: a
// command naming the file or its folder first finishes or undoes the switch (also when the name
// was absent at the kill), and a scan only reports it. The data is never lost.
TEST(RewriteRaceTest, KilledAtEveryStepThenEveryNextCommand) {
    TestArea area;
    std::string why;
    const std::string root = area.Volume(VolumeType::kNtfs, why);
    if (root.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string original = Compressible(300000);
    const struct {
        const char* what;
        std::vector<std::string> args;  // the path is added: "F" the file, "D" its folder
        bool folder;
    } nexts[] = {
        {"compress the file", {"compress"}, false},
        {"decompress the file", {"decompress"}, false},
        {"compress the folder", {"compress"}, true},
        {"scan the folder", {}, true},
    };
    for (const auto& [step, stepName] : kSteps) {
        for (const auto& next : nexts) {
            SCOPED_TRACE(std::string(stepName) + ", then " + next.what);
            const std::string dir = root + "/" + stepName + " " + next.what;
            std::filesystem::create_directories(dir);
            const std::string file = dir + "/" + kName;
            WriteFile(file, original);
            ASSERT_EQ(::setxattr(file.c_str(), "system.ntfs_dos_name", kShortName,
                                 std::strlen(kShortName), 0),
                      0);
            const pid_t child = ::fork();
            if (child == 0) {
                linuxfs::SetRewriteStepHook([&](RewriteStep at, const std::function<bool()>&) {
                    if (at == step) {
                        ::raise(SIGKILL);
                    }
                });
                const UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
                std::string reason;
                linuxfs::RewriteNtfsFile(dirFd.get(), kName, false, reason);
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status));

            std::vector<std::string> args = next.args;
            args.insert(args.begin(), PACKMETER_CLI);
            args.push_back(next.folder ? dir : file);
            const CommandResult result = RunCommand(args);
            EXPECT_EQ(result.status, 0) << result.output;
            const bool scan = next.args.empty();
            const bool scratchMade = step != RewriteStep::kGuarded;
            if (scan) {
                // Nothing was changed: the scratch folder is still there, and reported.
                EXPECT_EQ(result.output.find("interrupted") != std::string::npos, scratchMade)
                    << result.output;
                if (scratchMade) {
                    RunCommand({PACKMETER_CLI, "decompress", file});
                }
            }
            ExpectContent(file, original);
            std::set<std::string> names = Names(dir);
            EXPECT_EQ(names, std::set<std::string>{kName});
            char dos[32] = {};
            ::getxattr(file.c_str(), "system.ntfs_dos_name", dos, sizeof dos - 1);
            EXPECT_EQ(std::string(dos), kShortName);
        }
    }
}

}  // namespace
}  // namespace packmeter::testing
