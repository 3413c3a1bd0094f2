#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/utils/version.hpp"
#include "platform/system.hpp"

namespace packmeter {
namespace {

// Runs `body` in a child process as the unprivileged user "nobody"; returns its exit status.
template <typename Body>
int RunAsNobody(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(99);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GetVersionString, FromTheProgramAndFromProgramFiles) {
    const std::string both = std::string(kProductVersion) + "   (" + kFileVersion + ")";
    EXPECT_EQ(GetVersionString(true), kProductVersion);
    EXPECT_EQ(GetVersionString(false), both);
    // This test program carries the same version block as every program of the project.
    EXPECT_EQ(GetVersionString(false, "/proc/self/exe"), both);
    EXPECT_EQ(GetVersionString(true, "/proc/self/exe"), kProductVersion);
    EXPECT_EQ(GetVersionString(true, "/bin/sh"), "");
    EXPECT_EQ(GetVersionString(true, "/no/such/file"), "");
}

TEST(FullPath, AbsoluteAndClean) {
    EXPECT_EQ(FullPath("/usr/./lib/../share"), "/usr/share");
    EXPECT_EQ(FullPath("/usr/share/"), "/usr/share/");
    EXPECT_EQ(FullPath("/.."), "/");
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(FullPath("."), cwd == "/" ? "/" : cwd + "/");
    EXPECT_EQ(FullPath("x/y"), (cwd == "/" ? "" : cwd) + "/x/y");
    EXPECT_EQ(FullPath("x\xff"), (cwd == "/" ? "" : cwd) + "/x\xff");
}

TEST(IsFolder, FoldersOnlyAndLinksNotFollowed) {
    const auto dir = std::filesystem::temp_directory_path() / "packmeter-isfolder";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "sub");
    std::ofstream(dir / "file") << "x";
    std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
    EXPECT_TRUE(IsFolder((dir / "sub").string()));
    EXPECT_TRUE(IsFolder((dir / "sub").string() + "/"));
    EXPECT_FALSE(IsFolder((dir / "file").string()));
    EXPECT_FALSE(IsFolder((dir / "link").string()));
    EXPECT_FALSE(IsFolder((dir / "missing").string()));
    EXPECT_FALSE(IsFolder(""));
    std::filesystem::remove_all(dir);
}

TEST(EnableBackupPrivilege, HeldByRootAndNotByAnOrdinaryUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to compare a privileged and an unprivileged process";
    }
    EXPECT_TRUE(EnableBackupPrivilege());
    EXPECT_EQ(RunAsNobody([] { return EnableBackupPrivilege() ? 1 : 0; }), 0);
}

TEST(UserNumberFormat, FallsBackToCommaAndFullStop) {
    // The test runs in the "C" locale unless the environment names another one.
    const char* all = std::getenv("LC_ALL");
    const char* numeric = std::getenv("LC_NUMERIC");
    const char* lang = std::getenv("LANG");
    if ((all && *all) || (numeric && *numeric) || (lang && *lang && std::string(lang) != "C")) {
        GTEST_SKIP() << "a locale is set in the environment";
    }
    EXPECT_EQ(UserNumberFormat().thousands, ",");
    EXPECT_EQ(UserNumberFormat().decimal, ".");
}

}  // namespace
}  // namespace packmeter
