#pragma once

// Helpers of the back-end tests: writing files, checking them with outside tools, and running
// the real listing, walk and scan on a folder.

#include <cstdint>
#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"
#include "core/scan/folder_walk.hpp"

namespace packmeter::testing {

void WriteFile(const std::string& path, const std::string& data);
// Text that compresses well, and bytes that do not compress at all.
std::string Compressible(std::size_t size);
std::string Incompressible(std::size_t size, unsigned seed = 1);

// One "sha256  ./path" line per file below `folder`, sorted by path.
std::string TreeSha256(const std::string& folder);
// Disk usage in bytes as compsize -b reports it for a path.
std::int64_t CompsizeBytes(const std::string& path);
// compsize -b's rows by type for a path, one "type disk uncompressed referenced" line each in
// its order (none, zlib, lzo, zstd, prealloc); `AlgorithmLines` writes a split the same way.
std::string CompsizeLines(const std::string& path);
std::string AlgorithmLines(const AlgorithmSplit& split);
// st_blocks * 512 of a path.
std::int64_t AllocatedBytes(const std::string& path);

// The rows and totals of the real scan of a folder, run on the calling thread.
struct ScanResult {
    std::vector<EntryRow> rows;
    ScanTotals totals;
    const EntryRow& Row(const std::string& name) const;  // fails the test when missing
};
ScanResult ScanFolder(const std::string& folder);

// The entries of one listing; `name` stands in for the entry's view, which ended with it.
struct Listed {
    std::string name;
    Entry entry;
};
std::vector<Listed> ListFolder(const std::string& folder, ListDetail detail);
const Entry& Find(const std::vector<Listed>& listed, const std::string& name);

// Sizes of a tree through the walk of scans and compression commands.
struct Sizes {
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
};
Sizes WalkSizes(const std::string& folder);

// Switches a folder's tree (or a file) with the code both programs' compression commands run
// (CompressEntries); every failure it reported, the entry's own included.
std::vector<CompressionFailure> SwitchAsCommand(const std::string& path, bool decompress);

}  // namespace packmeter::testing
