// The listing and walk on real file systems: states through the real scan, awkward names, deep
// trees, links, other mounts and unreadable folders.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <regex>

#include "core/scan/folder_walk.hpp"
#include "core/utils/compression.hpp"
#include "platform/system.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;

class ListingTest : public ::testing::Test {
  protected:
    // Compresses a file's data without marking it, as a compress=... mount would.
    static void CompressDataOnly(const std::string& path) {
        RunCommand({"sync"});
        ASSERT_EQ(RunCommand({"btrfs", "filesystem", "defragment", "-czstd", path}).status, 0);
        RunCommand({"sync"});
    }
    TestArea area_;
};

TEST_F(ListingTest, ScanGivesEveryCompressionState) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/states/";
    for (const char* folder : {"plain", "partly", "marked"}) {
        fs::create_directories(top + folder);
    }
    WriteFile(top + "plain/a.txt", Compressible(200000));
    WriteFile(top + "partly/b.txt", Compressible(300000));
    WriteFile(top + "partly/c.bin", Incompressible(50000));
    CompressDataOnly(top + "partly/b.txt");
    ASSERT_EQ(RunCommand({"chattr", "+c", top + "marked"}).status, 0);
    WriteFile(top + "marked/d.txt", Compressible(400000));
    WriteFile(top + "plain.txt", Compressible(100000));
    WriteFile(top + "packed.txt", Compressible(100000));
    CompressDataOnly(top + "packed.txt");
    WriteFile(top + "empty", "");
    WriteFile(top + "sparse", "");
    ASSERT_EQ(::truncate((top + "sparse").c_str(), 5LL << 30), 0);
    RunCommand({"sync"});

    const ScanResult scan = ScanFolder(top);
    ASSERT_EQ(scan.rows.size(), 7u);
    EXPECT_EQ(scan.Row("plain").StateIndex(), kStatePlain + kFolderFlag);
    EXPECT_EQ(scan.Row("partly").StateIndex(), kStatePartly + kFolderFlag);
    EXPECT_EQ(scan.Row("marked").StateIndex(), kStateCompressed + kFolderFlag);
    EXPECT_EQ(scan.Row("plain.txt").StateIndex(), kStatePlain);
    EXPECT_EQ(scan.Row("packed.txt").StateIndex(), kStateCompressed);  // compressed data, no mark
    EXPECT_EQ(scan.Row("empty").StateIndex(), kStatePlain);
    EXPECT_EQ(scan.Row("sparse").StateIndex(), kStateCompressed);
    // Plain data counts its logical size, not its rounded allocation.
    EXPECT_EQ(scan.Row("plain.txt").onDisk, 100000);
    EXPECT_EQ(scan.Row("plain").onDisk, 200000);
    EXPECT_LT(scan.Row("packed.txt").onDisk, 100000 / 3);
    EXPECT_EQ(scan.Row("partly").size, 350000);
    EXPECT_LT(scan.Row("partly").onDisk, 350000 / 2);
    EXPECT_EQ(scan.Row("sparse").SizeTexts().size, "5120 MB");
    EXPECT_EQ(scan.Row("sparse").onDisk, 0);
    std::int64_t size = 0, onDisk = 0;
    for (const EntryRow& row : scan.rows) {
        size += row.size;
        onDisk += row.onDisk;
    }
    EXPECT_EQ(scan.totals.size, size);
    EXPECT_EQ(scan.totals.onDisk, onDisk);
}

TEST_F(ListingTest, NamesAreRawBytesThatAreMeasuredAndCompressed) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/";
    const std::vector<std::string> names = {"αβγ δέλτα.txt", "漢字かな.txt", "bad\xff\xfe\x80.txt",
                                            ".hidden", "..dots"};
    for (const std::string& name : names) {
        WriteFile(top + name, Compressible(120000));
        EXPECT_TRUE(SetFileCompression(*MakeFileSystem(), top + name, false)) << name;
    }
    const ScanResult scan = ScanFolder(top);
    ASSERT_EQ(scan.rows.size(), names.size());
    for (const std::string& name : names) {
        EXPECT_EQ(scan.Row(name).size, 120000) << name;
        EXPECT_LT(scan.Row(name).onDisk, 40000) << name;
        EXPECT_EQ(scan.Row(name).StateIndex(), kStateCompressed) << name;
    }
    EXPECT_EQ(scan.Row(names[0]).Caption(), names[0]);
    EXPECT_NE(scan.Row(names[2]).Caption(), names[2]);  // shown as valid UTF-8
}

TEST_F(ListingTest, TreeDeeperThanPathLimitIsWalkedAndCompressed) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    // 30 levels of 200-byte names: over 6000 bytes of path, beyond PATH_MAX.
    const std::string level(200, 'd');
    std::string deepest = root;
    int at = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 30; ++depth) {
        ASSERT_EQ(::mkdirat(at, level.c_str(), 0755), 0);
        const int next = ::openat(at, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = next;
        deepest += "/" + level;
        if (depth == 14 || depth == 29) {
            const int file = ::openat(at, "f.txt", O_WRONLY | O_CREAT, 0644);
            ASSERT_EQ(::write(file, Compressible(100000).data(), 100000), 100000);
            ::close(file);
        }
    }
    ::close(at);

    const Sizes plain = WalkSizes(root);
    EXPECT_EQ(plain.logical, 200000);
    EXPECT_EQ(plain.onDisk, 200000);
    EXPECT_TRUE(SwitchAsCommand(root, false).empty());
    const Sizes packed = WalkSizes(root);
    EXPECT_EQ(packed.logical, 200000);
    EXPECT_LT(packed.onDisk, 200000 / 3);
    // The deepest folder opens by its full path too, and its file shows compressed.
    ASSERT_GT(deepest.size(), 4096u);
    const auto bottom = ListFolder(deepest, ListDetail::kSizesAndState);
    ASSERT_EQ(bottom.size(), 1u);
    EXPECT_TRUE(bottom[0].entry.attributes & attr::kCompressed);
}

TEST_F(ListingTest, LinksAndSpecialFilesAreListedButNotFollowed) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/";
    fs::create_directories(top + "sub");
    WriteFile(top + "sub/data.txt", std::string(10000, 'x'));
    fs::create_symlink("loop2", top + "loop1");
    fs::create_symlink("loop1", top + "loop2");
    fs::create_symlink("..", top + "sub/up");
    fs::create_symlink(".", top + "self");
    fs::create_symlink("sub/data.txt", top + "tofile");
    ASSERT_EQ(::mkfifo((top + "fifo").c_str(), 0644), 0);

    EXPECT_EQ(WalkSizes(top).logical, 10000);
    const auto listed = ListFolder(top, ListDetail::kSizesAndState);
    ASSERT_EQ(listed.size(), 6u);
    // name: folder, enterable, regular; all but the folder with 0 bytes
    const std::map<std::string, std::array<bool, 3>> expected = {{"loop1", {false, false, false}},
                                                                 {"self", {true, false, false}},
                                                                 {"tofile", {false, false, false}},
                                                                 {"fifo", {false, false, false}},
                                                                 {"sub", {true, true, false}}};
    for (const auto& [name, kind] : expected) {
        const Entry& entry = Find(listed, name);
        const std::array<bool, 3> got = {entry.folder, entry.enterable, entry.regular};
        EXPECT_EQ(got, kind) << name;
        EXPECT_EQ(entry.size, 0) << name;
    }
    // Compressing the tree passes over links and the fifo; they cannot be compressed alone.
    const auto fs = MakeFileSystem();
    EXPECT_TRUE(SwitchAsCommand(top, false).empty());
    EXPECT_FALSE(SetFileCompression(*fs, top + "tofile", false));
    EXPECT_FALSE(SetFileCompression(*fs, top + "fifo", false));
}

TEST_F(ListingTest, OtherMountsAndSubvolumesAreNotEntered) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/top/";
    fs::create_directories(top + "bind");
    fs::create_directories(top + "tmp");
    fs::create_directories(root + "/elsewhere");
    WriteFile(top + "own.txt", std::string(5000, 'o'));
    WriteFile(root + "/elsewhere/big", std::string(1 << 20, 'b'));
    ASSERT_EQ(RunCommand({"btrfs", "subvolume", "create", top + "subvol"}).status, 0);
    WriteFile(top + "subvol/inner", std::string(70000, 's'));
    const MountPoint bind({"mount", "--bind", root + "/elsewhere", top + "bind"}, top + "bind");
    const MountPoint tmp({"mount", "-t", "tmpfs", "tmpfs", top + "tmp"}, top + "tmp");
    ASSERT_TRUE(bind.Mounted() && tmp.Mounted());
    WriteFile(top + "tmp/file", std::string(30000, 't'));

    EXPECT_EQ(WalkSizes(top).logical, 5000);
    const auto listed = ListFolder(top, ListDetail::kSizes);
    for (const char* name : {"bind", "tmp", "subvol"}) {
        EXPECT_TRUE(Find(listed, name).folder) << name;
        EXPECT_FALSE(Find(listed, name).enterable) << name;
    }
    const ScanResult scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("bind").size, 0);
    EXPECT_EQ(scan.totals.size, 5000);
}

// Off btrfs the walk opens folders without crossing mount points and takes links and special
// files by their listed kind; the sums and the unreadable entries stay what they were.
TEST_F(ListingTest, WalkOffBtrfsStopsAtMountsAndCountsWhatItCannotRead) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kExt4, root);
    const std::string top = root + "/top/";
    fs::create_directories(top + "sub/closed");
    fs::create_directories(top + "bind");
    fs::create_directories(top + "tmp");
    fs::create_directories(root + "/elsewhere");
    WriteFile(top + "own.txt", std::string(5000, 'o'));
    WriteFile(top + "sub/data", std::string(10000, 'd'));
    WriteFile(top + "sub/closed/f", std::string(3000, 'f'));
    WriteFile(root + "/elsewhere/big", std::string(1 << 20, 'b'));
    fs::create_symlink("data", top + "sub/link");
    fs::create_symlink("..", top + "sub/up");
    fs::create_symlink("f", top + "sub/closed/l");
    ASSERT_EQ(::mkfifo((top + "sub/fifo").c_str(), 0644), 0);
    // Listed by everybody, searched by its owner only: for others neither of its entries can be
    // looked at, the link no more than the file.
    ASSERT_EQ(::chmod((top + "sub/closed").c_str(), 0744), 0);
    const MountPoint bind({"mount", "--bind", root + "/elsewhere", top + "bind"}, top + "bind");
    const MountPoint tmp({"mount", "-t", "tmpfs", "tmpfs", top + "tmp"}, top + "tmp");
    ASSERT_TRUE(bind.Mounted() && tmp.Mounted());
    WriteFile(top + "tmp/file", std::string(30000, 't'));

    EXPECT_EQ(WalkSizes(top).logical, 18000);
    const ScanResult scan = ScanFolder(top);
    EXPECT_EQ(scan.Row("sub").size, 13000);
    EXPECT_EQ(scan.Row("bind").size, 0);
    EXPECT_EQ(scan.Row("tmp").size, 0);
    EXPECT_EQ(scan.totals.size, 18000);
    EXPECT_EQ(scan.totals.unreadable, 0);

    const CommandResult run =
        RunCommand({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", PACKMETER_CLI,
                    "--format", "json", top});
    ASSERT_EQ(run.status, 0) << run.output;
    std::smatch totals;
    ASSERT_TRUE(std::regex_search(
        run.output, totals, std::regex(R"re("totals": \{"size": (\d+),.*"unreadable": (\d+)\})re")))
        << run.output;
    EXPECT_EQ(totals[1], "15000");
    EXPECT_EQ(totals[2], "2");
}

TEST_F(ListingTest, UnprivilegedUserSkipsUnreadableFolders) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfsZstd, root);
    const std::string top = root + "/";
    fs::create_directories(top + "open");
    fs::create_directories(top + "closed");
    WriteFile(top + "open/a.txt", Compressible(50000));
    WriteFile(top + "closed/b.txt", Compressible(80000));
    WriteFile(top + "c.txt", Compressible(7000));
    ASSERT_EQ(::chmod((top + "closed").c_str(), 0700), 0);
    RunCommand({"sync"});

    // The command-line tool as user nobody; its JSON rows by name: size and state.
    const CommandResult run =
        RunCommand({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", PACKMETER_CLI,
                    "--format", "json", top});
    ASSERT_EQ(run.status, 0) << run.output;
    const std::regex row(
        R"re("name": "([^"]*)", "folder": \w+, "size": (\d+), "on_disk": \d+, "ratio": -?\d+, "state": (\d+))re");
    std::map<std::string, std::pair<long, int>> rows;
    for (std::sregex_iterator it(run.output.begin(), run.output.end(), row), end; it != end; ++it) {
        rows[(*it)[1]] = {std::stol((*it)[2]), std::stoi((*it)[3])};
    }
    ASSERT_EQ(rows.size(), 3u) << run.output;
    EXPECT_EQ(rows["closed"].first, 0);
    EXPECT_EQ(rows["open"].first, 50000);
    // Without root btrfs cannot tell what compressed data occupies: logical sizes, and the
    // tool says so. As root the same file shows compressed.
    EXPECT_EQ(rows["c.txt"], std::make_pair(7000L, kStatePlain));
    EXPECT_NE(run.output.find("need root"), std::string::npos) << run.output;
    EXPECT_EQ(ScanFolder(top).Row("c.txt").StateIndex(), kStateCompressed);
}

}  // namespace
}  // namespace packmeter::testing
