// The forecast of what compressing saves, checked against the real file system: crafted files
// are forecast, compressed by the compress command's own path and scanned; each forecast must
// equal the scan's on-disk figure.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/utils/compression.hpp"
#include "core/utils/forecast.hpp"
#include "platform/chunk_codecs.hpp"
#include "platform/system.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::testing {
namespace {

constexpr std::size_t kKiB = 1024;

struct Crafted {
    std::string name;
    std::string data;
    std::size_t holeBefore = 0;  // bytes of hole before the data (a sparse file)
};

// Bytes whose compressed size lies near a limit: `zeros` zero bytes, then random bytes.
std::string ZerosThenRandom(std::size_t zeros, std::size_t size, unsigned seed) {
    return std::string(zeros, '\0') + Incompressible(size - zeros, seed);
}

std::vector<Crafted> CraftedFiles(std::size_t unit, bool sparse) {
    std::vector<Crafted> files = {
        {"empty", ""},
        {"tiny", Compressible(100)},
        {"inline_sized", Compressible(3000)},
        {"small_random", Incompressible(3000, 2)},
        {"one_sector", Compressible(4096)},
        {"sector_plus", Compressible(5000)},
        {"random", Incompressible(300 * kKiB, 3)},
        {"text", Compressible(1100 * kKiB)},
        {"mixed", Compressible(600 * kKiB) + Incompressible(200 * kKiB, 4)},
        {"random_first", Incompressible(200 * kKiB, 5) + Compressible(900 * kKiB)},
        {"tail", Compressible(128 * kKiB) + Incompressible(3000, 6)},
        {"zeros", std::string(300 * kKiB, '\0')},
    };
    if (sparse) {  // ntfs-3g leaves sparse files as they are, and says so
        files.push_back({"sparse", Compressible(256 * kKiB), 1024 * kKiB});
    }
    // Units just over and under the saving limit of one sector, each after data that
    // compresses well. The unit comes last: btrfs gives up the rest of a stretch after a chunk
    // that does not shrink only when writeback hands it the stretch whole, which a busy machine
    // may not do, so no file here depends on what follows such a chunk.
    for (std::size_t zeros : {1500, 3000, 4200, 5000, 6000, 8000}) {
        files.push_back({"limit_" + std::to_string(zeros),
                         Compressible(256 * kKiB) +
                             ZerosThenRandom(zeros, unit, static_cast<unsigned>(zeros))});
    }
    return files;
}

void Write(const std::string& folder, const Crafted& file) {
    const std::string path = folder + "/" + file.name;
    WriteFile(path, "");
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, file.data.data(), file.data.size(), static_cast<off_t>(file.holeBefore)),
              static_cast<ssize_t>(file.data.size()));
    ::close(fd);
}

// Writes the files into `folder`, forecasts each with `method`, compresses the folder with it
// and compares every file's forecast with what the scan shows afterwards.
void CheckForecasts(const std::string& folder, const std::vector<Crafted>& files,
                    const CompressionChoice& method) {
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    for (const Crafted& file : files) {
        Write(folder, file);
    }
    RunCommand({"sync"});
    const std::shared_ptr<FileSystem> fs = MakeFileSystem();
    std::vector<std::string> paths;
    for (const Crafted& file : files) {
        paths.push_back(folder + "/" + file.name);
    }
    ForecastRequest request;
    request.method = method;
    std::vector<ForecastRow> exact;
    ASSERT_TRUE(ForecastPaths(*fs, paths, request, MakeChunkCompressor, exact));

    fs->SetCompressionChoice(method);
    CompressionFailure failure;
    ASSERT_TRUE(SetFolderCompression(*fs, folder, false, true, &failure))
        << failure.path << ": " << failure.reason;
    RunCommand({"sync"});
    const auto listed = ListFolder(folder, ListDetail::kSizes);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Entry& entry = Find(listed, files[i].name);
        ASSERT_TRUE(exact[i].found) << files[i].name;
        // Data compressed into the btrfs tree itself counts in bytes, where the kernel's
        // compressors differ from the libraries' by a few; everything else in whole sectors.
        const std::int64_t slack = entry.onDisk < 4096 && entry.onDisk != entry.size ? 32 : 0;
        EXPECT_NEAR(exact[i].sizes.forecast, entry.onDisk, slack)
            << "MISMATCH " << CompressionMethodText(method) << " " << files[i].name << " size "
            << entry.size << " before " << exact[i].sizes.onDiskNow << " forecast "
            << exact[i].sizes.forecast << " real " << entry.onDisk;
    }
}

TEST(ForecastTest, BtrfsRulesMatchTheVolumeAfterCompressing) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    const std::vector<Crafted> files = CraftedFiles(128 * kKiB, true);
    for (const char* method : {"zstd", "zstd:15", "lzo", "zlib", "zlib:9"}) {
        std::string folder = root + "/" + method;
        CheckForecasts(folder, files, *ParseCompressionMethod(method));
    }
}

TEST(ForecastTest, NtfsRulesMatchTheVolumeAfterCompressing) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kNtfs, root);
    CheckForecasts(root + "/lznt1", CraftedFiles(64 * kKiB, false), CompressionChoice{});
}

}  // namespace
}  // namespace packmeter::testing

namespace packmeter::testing {
namespace {

// The first integer after `"key": ` in the JSON text (the totals come before the entries).
std::int64_t JsonNumber(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::stoll(json.substr(at + key.size() + 4));
}

CommandResult Cli(const std::vector<std::string>& args, bool withErrors = false) {
    std::string line = std::string("'") + PACKMETER_CLI + "'";
    for (const std::string& arg : args) {
        line += " '" + arg + "'";
    }
    return RunCommand({"sh", "-c", line + (withErrors ? " 2>&1" : " 2>/dev/null")});
}

TEST(ForecastTest, CliEstimatesThenCompressesLeavingAloneWhatWouldNotShrink) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    const std::string tree = root + "/tree";
    std::filesystem::create_directories(tree + "/sub");
    WriteFile(tree + "/text.txt", Compressible(2 << 20));
    WriteFile(tree + "/random.bin", Incompressible(1 << 20, 9));
    WriteFile(tree + "/sub/more.txt", Compressible(300 << 10));
    WriteFile(tree + "/sub/small.txt", Compressible(3000));
    RunCommand({"sync"});

    const CommandResult exact = Cli({"--format", "json", "estimate", "--algorithm=zstd:5", tree});
    ASSERT_EQ(exact.status, 0) << exact.output;
    const std::int64_t forecast = JsonNumber(exact.output, "forecast_on_disk");
    EXPECT_EQ(JsonNumber(exact.output, "files"), 4);
    EXPECT_LT(forecast, JsonNumber(exact.output, "on_disk") / 2);
    const CommandResult quick =
        Cli({"--format", "json", "estimate", "--quick", "--algorithm", "zstd:5", tree});
    ASSERT_EQ(quick.status, 0) << quick.output;
    EXPECT_NEAR(JsonNumber(quick.output, "forecast_on_disk"), forecast, forecast / 20);
    const CommandResult table = Cli({"estimate", tree + "/random.bin"});
    EXPECT_NE(table.output.find("random.bin (btrfs)"), std::string::npos) << table.output;
    EXPECT_EQ(Cli({"estimate", "--min-saving", "5", tree}).status, 2);

    // The random file would save nothing: left plain, reported, not a failure.
    const CommandResult compressed =
        Cli({"compress", "--algorithm", "zstd:5", "--min-saving", "10", tree}, true);
    EXPECT_EQ(compressed.status, 0) << compressed.output;
    EXPECT_NE(compressed.output.find("random.bin: left alone: would save 0.0 %"), std::string::npos)
        << compressed.output;
    EXPECT_NE(compressed.output.find("1 files left alone"), std::string::npos);
    const auto listed = ListFolder(tree, ListDetail::kSizesAndState);
    EXPECT_EQ(Find(listed, "random.bin").attributes & attr::kCompressed, 0u);
    EXPECT_NE(Find(listed, "text.txt").attributes & attr::kCompressed, 0u);
    const CommandResult scan = Cli({"--format", "json", tree});
    EXPECT_EQ(JsonNumber(scan.output, "on_disk"), forecast) << scan.output;

    // A forecast asked to stop ends without a result.
    const std::atomic<bool> stop{true};
    std::vector<ForecastRow> rows;
    EXPECT_FALSE(
        ForecastPaths(*MakeFileSystem(), {tree}, {}, MakeChunkCompressor, rows, nullptr, &stop));
}

}  // namespace
}  // namespace packmeter::testing
