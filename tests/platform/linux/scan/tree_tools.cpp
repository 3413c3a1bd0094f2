#include "tests/platform/linux/scan/tree_tools.hpp"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "core/app/compress_command.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/scan/scan.hpp"
#include "platform/system.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"

namespace packmeter::testing {

namespace {

class Collector final : public ScanOutput {
  public:
    void ScanBusy(bool) override {}
    void AddRow(EntryRow row) override { result.rows.push_back(std::move(row)); }
    void SetTotals(ScanTotals totals) override { result.totals = std::move(totals); }
    ScanResult result;
};

}  // namespace

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string Compressible(std::size_t size) {
    std::string text;
    for (unsigned line = 0; text.size() < size; ++line) {
        text += "line " + std::to_string(line) + " of some very repetitive text\n";
    }
    text.resize(size);
    return text;
}

std::string Incompressible(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

std::string TreeSha256(const std::string& folder) {
    return RunCommand({"sh", "-c",
                       "cd \"$1\" && find . -type f -print0 | sort -z | xargs -0r sha256sum", "sh",
                       folder})
        .output;
}

std::int64_t CompsizeBytes(const std::string& path) {
    // "TOTAL  <percent>  <disk usage>  <uncompressed>  <referenced>"
    std::istringstream lines(RunCommand({"compsize", "-b", path}).output);
    std::string type, percent;
    std::int64_t disk = -1;
    for (std::string line; std::getline(lines, line);) {
        if (std::istringstream(line) >> type >> percent >> disk && type == "TOTAL") {
            return disk;
        }
    }
    return -1;
}

std::string CompsizeLines(const std::string& path) {
    std::istringstream lines(RunCommand({"compsize", "-b", path}).output);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        std::string type, percent, disk, uncompressed, referenced;
        if (std::istringstream(line) >> type >> percent >> disk >> uncompressed >> referenced &&
            type != "TOTAL" && percent.ends_with('%')) {
            out += type + " " + disk + " " + uncompressed + " " + referenced + "\n";
        }
    }
    return out;
}

std::string AlgorithmLines(const AlgorithmSplit& split) {
    std::string out;
    for (const AlgorithmSplit::Part& part : split.Parts()) {
        out += std::string(AlgorithmName(part.algorithm)) + " " +
               std::to_string(part.figures.onDisk) + " " +
               std::to_string(part.figures.uncompressed) + " " +
               std::to_string(part.figures.referenced) + "\n";
    }
    return out;
}

std::int64_t AllocatedBytes(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_blocks * 512 : -1;
}

const EntryRow& ScanResult::Row(const std::string& name) const {
    for (const EntryRow& row : rows) {
        if (row.name == name) {
            return row;
        }
    }
    ADD_FAILURE() << "no row " << name;
    static const EntryRow missing;
    return missing;
}

ScanResult ScanFolder(const std::string& folder) {
    auto output = std::make_shared<Collector>();
    TScan(folder, output, MakeFileSystem()).Execute();
    return std::move(output->result);
}

std::vector<Listed> ListFolder(const std::string& folder, ListDetail detail) {
    std::vector<Listed> listed;
    if (const auto open = MakeFileSystem()->OpenFolder(folder)) {
        open->List(detail, [&](const Entry& entry) {
            listed.push_back({std::string(entry.name), entry});
            listed.back().entry.name = {};
            return true;
        });
    }
    return listed;
}

const Entry& Find(const std::vector<Listed>& listed, const std::string& name) {
    for (const Listed& item : listed) {
        if (item.name == name) {
            return item.entry;
        }
    }
    ADD_FAILURE() << "not listed: " << name;
    static const Entry missing;
    return missing;
}

Sizes WalkSizes(const std::string& folder) {
    const FolderSizes sizes = GetFolderSizes(*MakeFileSystem(), folder);
    return {sizes.logical, sizes.onDisk};
}

std::vector<CompressionFailure> SwitchAsCommand(const std::string& path, bool decompress) {
    class Failures final : public CompressListener {
      public:
        void Switching(const std::string&) override {}
        void Switched(const std::string&, std::int64_t, bool) override {}
        void Failed(const CompressionFailure& failure, bool) override { list.push_back(failure); }
        std::vector<CompressionFailure> list;
    } failures;
    const PathParts parts = SplitPath(path);
    CompressEntries(*MakeFileSystem(), parts.parent, {parts.name}, decompress, nullptr, failures);
    return failures.list;
}

}  // namespace packmeter::testing
