// The listing and walk on real file systems: states through the real scan, awkward names,
// deep trees, links, other mounts and unreadable folders.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "scan/entry_row.hpp"
#include "scan/folder_walk.hpp"
#include "system.hpp"
#include "test_volumes.hpp"
#include "tree_tools.hpp"
#include "utils/compression.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;

class ListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = area_.Unavailable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }
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
    const std::string top = root + "/states";
    fs::create_directories(top + "/plain");
    fs::create_directories(top + "/partly");
    fs::create_directories(top + "/marked");
    WriteFile(top + "/plain/a.txt", Compressible(200000));
    WriteFile(top + "/partly/b.txt", Compressible(300000));
    WriteFile(top + "/partly/c.bin", Incompressible(50000));
    CompressDataOnly(top + "/partly/b.txt");
    ASSERT_EQ(RunCommand({"chattr", "+c", top + "/marked"}).status, 0);
    WriteFile(top + "/marked/d.txt", Compressible(400000));
    WriteFile(top + "/plain.txt", Compressible(100000));
    WriteFile(top + "/packed.txt", Compressible(100000));
    CompressDataOnly(top + "/packed.txt");
    WriteFile(top + "/empty", "");
    WriteFile(top + "/sparse", "");
    ASSERT_EQ(::truncate((top + "/sparse").c_str(), 5LL << 30), 0);
    RunCommand({"sync"});

    const ScanResult scan = ScanFolder(top);
    ASSERT_EQ(scan.rows.size(), 7u);
    const auto state = [&](const std::string& name) {
        const EntryRow* row = scan.Row(name);
        return row ? row->state : -1;
    };
    EXPECT_EQ(state("plain"), kStatePlain + kFolderFlag);
    EXPECT_EQ(state("partly"), kStatePartly + kFolderFlag);
    EXPECT_EQ(state("marked"), kStateCompressed + kFolderFlag);
    EXPECT_EQ(state("plain.txt"), kStatePlain);
    EXPECT_EQ(state("packed.txt"), kStateCompressed);
    EXPECT_EQ(state("empty"), kStatePlain);
    EXPECT_EQ(state("sparse"), kStateCompressed);

    // Plain data counts its logical size, not its rounded allocation.
    EXPECT_EQ(scan.Row("plain.txt")->onDisk, 100000);
    EXPECT_EQ(scan.Row("plain")->onDisk, 200000);
    EXPECT_EQ(scan.Row("plain.txt")->ratioText, "0 %");
    EXPECT_LT(scan.Row("packed.txt")->onDisk, 100000 / 3);
    EXPECT_EQ(scan.Row("partly")->size, 350000);
    EXPECT_LT(scan.Row("partly")->onDisk, 350000 / 2);
    EXPECT_EQ(scan.Row("sparse")->sizeText, "5120 MB");
    EXPECT_EQ(scan.Row("sparse")->onDisk, 0);
    // Folders come first, then files; the totals add up every row.
    EXPECT_TRUE(scan.rows[0].IsFolder() && scan.rows[2].IsFolder() && !scan.rows[3].IsFolder());
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
    const std::string top = root + "/names/";
    fs::create_directories(top);
    const std::vector<std::string> names = {"αβγ δέλτα.txt", "漢字かな.txt", "bad\xff\xfe\x80.txt",
                                            ".hidden", "..dots"};
    for (const std::string& name : names) {
        WriteFile(top + name, Compressible(120000));
    }
    const auto fs = MakeFileSystem();
    for (const std::string& name : names) {
        EXPECT_TRUE(SetFileCompression(*fs, top + name, false)) << name;
    }
    const ScanResult scan = ScanFolder(top);
    ASSERT_EQ(scan.rows.size(), names.size());
    for (const std::string& name : names) {
        const EntryRow* row = scan.Row(name);
        ASSERT_NE(row, nullptr) << name;
        EXPECT_EQ(row->size, 120000) << name;
        EXPECT_LT(row->onDisk, 40000) << name;
        EXPECT_EQ(row->state, kStateCompressed) << name;
    }
    // The shown caption is valid UTF-8 even where the name is not.
    EXPECT_NE(scan.Row(names[2])->caption, names[2]);
    EXPECT_EQ(scan.Row(names[0])->caption, names[0]);
}

TEST_F(ListingTest, TreeDeeperThanPathLimitIsWalkedAndCompressed) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/deep";
    fs::create_directories(top);
    // 30 levels of 200-byte names: over 6000 bytes of path, beyond PATH_MAX.
    const std::string level(200, 'd');
    int at = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    std::string full = top;
    for (int depth = 0; depth < 30; ++depth) {
        ASSERT_EQ(::mkdirat(at, level.c_str(), 0755), 0);
        const int next = ::openat(at, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = next;
        full += "/" + level;
        if (depth == 14 || depth == 29) {
            const std::string data = Compressible(100000);
            const int file = ::openat(at, "f.txt", O_WRONLY | O_CREAT, 0644);
            ASSERT_EQ(::write(file, data.data(), data.size()), 100000);
            ::close(file);
        }
    }
    ::close(at);
    ASSERT_GT(full.size(), 4096u);

    const Sizes plain = WalkSizes(top);
    EXPECT_EQ(plain.logical, 200000);
    EXPECT_EQ(plain.onDisk, 200000);
    WalkSizes(top, kCompress);
    const Sizes packed = WalkSizes(top);
    EXPECT_EQ(packed.logical, 200000);
    EXPECT_LT(packed.onDisk, 200000 / 3);
    // The deepest folder opens by its full path too, and its file shows compressed.
    const auto bottom = ListFolder(full, ListDetail::kSizesAndState);
    ASSERT_EQ(bottom.size(), 1u);
    EXPECT_TRUE(bottom[0].entry.attributes & attr::kCompressed);
}

TEST_F(ListingTest, LinksAndSpecialFilesAreListedButNotFollowed) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/links";
    fs::create_directories(top + "/sub");
    WriteFile(top + "/sub/data.txt", std::string(10000, 'x'));
    fs::create_symlink("loop2", top + "/loop1");
    fs::create_symlink("loop1", top + "/loop2");
    fs::create_symlink("..", top + "/sub/up");
    fs::create_symlink(".", top + "/self");
    fs::create_symlink("sub/data.txt", top + "/tofile");
    ASSERT_EQ(::mkfifo((top + "/fifo").c_str(), 0644), 0);

    const Sizes sizes = WalkSizes(top);
    EXPECT_EQ(sizes.logical, 10000);
    const auto listed = ListFolder(top, ListDetail::kSizesAndState);
    ASSERT_EQ(listed.size(), 6u);
    const auto check = [&](const std::string& name, bool folder, bool enterable, bool regular) {
        const Listed* item = Find(listed, name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->entry.folder, folder) << name;
        EXPECT_EQ(item->entry.enterable, enterable) << name;
        EXPECT_EQ(item->entry.regular, regular) << name;
        EXPECT_EQ(item->entry.size, 0) << name;
    };
    check("loop1", false, false, false);
    check("self", true, false, false);
    check("tofile", false, false, false);
    check("fifo", false, false, false);
    check("sub", true, true, false);
    // Compressing the tree passes over links and the fifo.
    const auto fs = MakeFileSystem();
    EXPECT_TRUE(SetFolderCompression(*fs, top, false, true));
    EXPECT_FALSE(SetFileCompression(*fs, top + "/tofile", false));
    EXPECT_FALSE(SetFileCompression(*fs, top + "/sub", false));
}

TEST_F(ListingTest, OtherMountsAndSubvolumesAreNotEntered) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, root);
    const std::string top = root + "/mounts";
    fs::create_directories(top + "/bind");
    fs::create_directories(top + "/tmp");
    fs::create_directories(root + "/elsewhere");
    WriteFile(top + "/own.txt", std::string(5000, 'o'));
    WriteFile(root + "/elsewhere/big", std::string(1 << 20, 'b'));
    ASSERT_EQ(RunCommand({"btrfs", "subvolume", "create", top + "/subvol"}).status, 0);
    WriteFile(top + "/subvol/inner", std::string(70000, 's'));
    const MountPoint bind({"mount", "--bind", root + "/elsewhere", top + "/bind"}, top + "/bind");
    const MountPoint tmp({"mount", "-t", "tmpfs", "tmpfs", top + "/tmp"}, top + "/tmp");
    ASSERT_TRUE(bind.Mounted() && tmp.Mounted());
    WriteFile(top + "/tmp/file", std::string(30000, 't'));

    EXPECT_EQ(WalkSizes(top).logical, 5000);
    const auto listed = ListFolder(top, ListDetail::kSizes);
    for (const char* name : {"bind", "tmp", "subvol"}) {
        const Listed* item = Find(listed, name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_TRUE(item->entry.folder) << name;
        EXPECT_FALSE(item->entry.enterable) << name;
    }
    const ScanResult scan = ScanFolder(top);
    ASSERT_NE(scan.Row("bind"), nullptr);
    EXPECT_EQ(scan.Row("bind")->size, 0);
    EXPECT_EQ(scan.totals.size, 5000);
}

// Runs the command-line tool as user nobody; its JSON rows by name: size and state.
struct NobodyScan {
    CommandResult run;
    std::map<std::string, std::pair<std::int64_t, int>> rows;
};

NobodyScan ScanAsNobody(const std::string& folder) {
    NobodyScan scan;
    scan.run = RunCommand({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           PACKMETER_CLI, "--format", "json", folder});
    const std::regex row(
        R"re("name": "([^"]*)", "folder": \w+, "size": (\d+), "on_disk": \d+, "ratio": -?\d+, "state": (\d+))re");
    for (std::sregex_iterator it(scan.run.out.begin(), scan.run.out.end(), row), end; it != end;
         ++it) {
        scan.rows[(*it)[1]] = {std::stoll((*it)[2]), std::stoi((*it)[3])};
    }
    return scan;
}

TEST_F(ListingTest, UnprivilegedUserSkipsUnreadableFolders) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfsZstd, root);
    const std::string top = root + "/shared";
    fs::create_directories(top + "/open");
    fs::create_directories(top + "/closed");
    WriteFile(top + "/open/a.txt", Compressible(50000));
    WriteFile(top + "/closed/b.txt", Compressible(80000));
    WriteFile(top + "/c.txt", Compressible(7000));
    ASSERT_EQ(::chmod((top + "/closed").c_str(), 0700), 0);
    RunCommand({"sync"});

    const NobodyScan scan = ScanAsNobody(top);
    ASSERT_EQ(scan.run.status, 0) << scan.run.err;
    ASSERT_EQ(scan.rows.size(), 3u) << scan.run.out;
    EXPECT_EQ(scan.rows.at("closed").first, 0);
    EXPECT_EQ(scan.rows.at("open").first, 50000);
    // Without root btrfs cannot say what compressed data occupies: sizes stay logical, and the
    // tool says so once.
    EXPECT_EQ(scan.rows.at("c.txt"), std::make_pair(std::int64_t{7000}, kStatePlain));
    EXPECT_NE(scan.run.err.find("need root"), std::string::npos) << scan.run.err;
    // As root the same files show compressed.
    EXPECT_EQ(ScanFolder(top).Row("c.txt")->state, kStateCompressed);
}

}  // namespace
}  // namespace packmeter::testing
