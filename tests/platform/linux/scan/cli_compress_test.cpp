// packmeter-cli compress and decompress on real volumes: the rows it prints are what the file
// system says afterwards, the data is untouched, and a failure anywhere gives exit status 1.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

namespace fs = std::filesystem;

// The fields of one JSON entry line of the tool's output.
struct JsonRow {
    bool found = false;
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
    int state = -1;
};

JsonRow RowOf(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    std::string line;
    const std::regex fields(
        R"re("size": (\d+), "on_disk": (\d+), "ratio": -?\d+, "state": (\d+))re");
    while (std::getline(lines, line)) {
        std::smatch match;
        if (line.find("{\"name\": \"" + name + "\"") != std::string::npos &&
            std::regex_search(line, match, fields)) {
            return {true, std::stoll(match[1]), std::stoll(match[2]), std::stoi(match[3])};
        }
    }
    return {};
}

// The on-disk bytes of every file below `path` (or of the file), as the volume's own tool
// tells them: compsize -b on btrfs, st_blocks on NTFS.
std::int64_t OutsideOnDisk(VolumeType type, const std::string& path) {
    if (type != VolumeType::kNtfs) {
        return CompsizeBytes(path);
    }
    if (!fs::is_directory(path)) {
        return AllocatedBytes(path);
    }
    std::int64_t sum = 0;
    for (const auto& entry : fs::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) {
            sum += AllocatedBytes(entry.path());
        }
    }
    return sum;
}

class CliCompressTest : public ::testing::Test {
  protected:
    TestArea area_;
};

TEST_F(CliCompressTest, RowsMatchTheVolumesOwnFiguresAndDataStaysTheSame) {
    for (const VolumeType type : {VolumeType::kBtrfsZstd, VolumeType::kNtfs}) {
        std::string why;
        const std::string root = area_.Volume(type, why);
        if (root.empty()) {
            GTEST_SKIP() << why;
        }
        const std::string top = root + "/";
        fs::create_directories(top + "tree/sub");
        WriteFile(top + "tree/text.txt", Compressible(512 << 10));
        WriteFile(top + "tree/random.bin", Incompressible(128 << 10));
        WriteFile(top + "tree/sub/deeper.txt", Compressible(256 << 10));
        WriteFile(top + "c.txt", Compressible(300000));
        const std::string hashes = TreeSha256(top);
        const std::int64_t treeSize = (512 << 10) + (128 << 10) + (256 << 10);
        struct Case {
            const char* command;
            int state;                        // of both rows, the folder flag aside
            const char* algorithm = nullptr;  // an --algorithm option
        };
        // NTFS has LZNT1 alone: another algorithm is noted as ignored there, and compressing
        // goes on.
        for (const Case c : {Case{"compress", kStateCompressed}, Case{"decompress", kStatePlain},
                             Case{"compress", kStateCompressed, "--algorithm=zstd:5"}}) {
            std::vector<std::string> args = {PACKMETER_CLI, "--format", "json", c.command};
            if (c.algorithm != nullptr) {
                args.push_back(c.algorithm);
            }
            args.insert(args.end(), {top + "tree", top + "c.txt"});
            const CommandResult run = RunCommand(args);
            ASSERT_EQ(run.status, 0) << run.output;
            EXPECT_EQ(run.output.find("NTFS compresses with LZNT1 only: --algorithm zstd:5 "
                                      "ignored there\n") != std::string::npos,
                      type == VolumeType::kNtfs && c.algorithm != nullptr)
                << run.output;
            RunCommand({"sync"});
            const JsonRow tree = RowOf(run.output, "tree");
            const JsonRow file = RowOf(run.output, "c.txt");
            ASSERT_TRUE(tree.found && file.found) << run.output;
            EXPECT_EQ(tree.state, c.state + kFolderFlag) << c.command;
            EXPECT_EQ(file.state, c.state) << c.command;
            EXPECT_EQ(tree.size, treeSize);
            EXPECT_EQ(file.size, 300000);
            // Compressed data counts what it occupies; plain data its size.
            if (c.state == kStateCompressed) {
                EXPECT_EQ(tree.onDisk, OutsideOnDisk(type, top + "tree")) << c.command;
                EXPECT_EQ(file.onDisk, OutsideOnDisk(type, top + "c.txt")) << c.command;
                EXPECT_LT(file.onDisk, 300000 / 3) << c.command;
            } else {
                EXPECT_EQ(tree.onDisk, treeSize) << c.command;
                EXPECT_EQ(file.onDisk, 300000) << c.command;
                EXPECT_GE(OutsideOnDisk(type, top + "c.txt"), 300000) << c.command;
            }
            EXPECT_EQ(TreeSha256(top), hashes) << c.command;
        }
    }
}

// Where the volume cannot compress, that is said once and nothing is switched, not even a
// later path on a volume that can.
TEST_F(CliCompressTest, AVolumeThatCannotCompressIsSaidOnceAndNothingSwitched) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kTmpfs, tmpfs);
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, btrfs);
    fs::create_directories(tmpfs + "/tree/sub");
    for (int i = 0; i < 50; ++i) {
        WriteFile(tmpfs + "/tree/sub/f" + std::to_string(i), Compressible(1000));
    }
    WriteFile(btrfs + "/after", Compressible(300000));
    const CommandResult run = RunCommand(
        {PACKMETER_CLI, "--format", "json", "compress", tmpfs + "/tree", btrfs + "/after"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output, "packmeter-cli: " + tmpfs +
                              "/tree: cannot compress: the file system (tmpfs) does not compress "
                              "files\n");
    RunCommand({"sync"});
    EXPECT_GE(CompsizeBytes(btrfs + "/after"), 300000);
}

// On a volume that compresses, every entry of a tree is tried as an unprivileged user: what
// cannot be switched (a folder that cannot even be opened, files of another user) is named,
// the first ones one by one and the rest counted, the rest is switched, and the status is 1.
TEST_F(CliCompressTest, EntriesThatCannotBeSwitchedAreNamedAndCountedAndExitOne) {
    PACKMETER_VOLUME_OR_SKIP(area_, VolumeType::kBtrfs, btrfs);
    const std::string tree = btrfs + "/tree";
    fs::create_directories(tree + "/locked");
    fs::create_directories(tree + "/theirs");
    WriteFile(tree + "/mine.txt", Compressible(300000));
    WriteFile(tree + "/locked/inside.txt", Compressible(300000));
    for (int i = 0; i < 25; ++i) {
        WriteFile(tree + "/theirs/f" + std::to_string(i), Compressible(1000));
    }
    const std::string hashes = TreeSha256(tree);
    // Everything is nobody's but "theirs" (root's, readable by all); "locked" opens for no one
    // but root.
    for (const std::string& path :
         {btrfs, tree, tree + "/mine.txt", tree + "/locked", tree + "/locked/inside.txt"}) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0) << path;
    }
    fs::permissions(tree + "/locked", fs::perms::none);

    const CommandResult run = RunCommandAs(65534, {PACKMETER_CLI, "compress", tree});
    fs::permissions(tree + "/locked", fs::perms::owner_all);
    EXPECT_EQ(run.status, 1) << run.output;
    // "locked", "theirs" itself and its 25 files: 27 failures, 20 of them named (btrfs lists a
    // folder in the order its entries were made).
    EXPECT_NE(run.output.find("packmeter-cli: " + tree +
                              "/locked/: cannot compress: the folder cannot be opened\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("packmeter-cli: " + tree + "/theirs/: cannot compress"),
              std::string::npos)
        << run.output;
    std::size_t named = 0;
    for (std::size_t at = 0; (at = run.output.find(": cannot compress", at)) != std::string::npos;
         ++at) {
        ++named;
    }
    EXPECT_EQ(named, 20u) << run.output;
    EXPECT_NE(run.output.find("packmeter-cli: 7 more entries could not be compressed (27 in all)"),
              std::string::npos)
        << run.output;
    RunCommand({"sync"});
    EXPECT_LT(CompsizeBytes(tree + "/mine.txt"), 300000 / 3);
    EXPECT_GE(CompsizeBytes(tree + "/locked/inside.txt"), 300000);
    EXPECT_EQ(TreeSha256(tree), hashes);
}

}  // namespace
}  // namespace packmeter::testing
