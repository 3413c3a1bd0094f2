#include "platform/linux/scan/entry_sizes.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "core/utils/program_thread.hpp"
#include "platform/linux/scan/measure_client.hpp"
#include "platform/linux/scan/ntfs3g_attributes.hpp"

namespace packmeter::linuxfs {

namespace {

bool AllocationBelowSize(const StatRecord& record) {
    return record.blocks * 512 < record.size;
}

void ApplyUsage(StatRecord& record, const FileExtentUsage& usage) {
    record.occupied = usage.diskBytes;
    record.compressedData = usage.compressed;
    record.extentsKnown = true;
    record.byKind = usage.byKind;
}

// The helper's figures for the folder's files, asked for before the listing was read. A file
// it did not list (made since) or a folder it refused keeps st_blocks.
void ApplyHelperAnswer(FolderVolume& volume, std::span<StatRecord> records,
                       MeasureScratch& scratch) {
    if (!scratch.answerTaken) {
        scratch.answerTaken = true;
        if (scratch.pending != nullptr) {
            scratch.answer = scratch.pending->Finish();
        }
        if (scratch.answer.status == measure::Status::kLost) {
            volume.measureHelper = MeasureHelper::Instance().Available();
        }
    }
    if (scratch.answer.status != measure::Status::kOk) {
        return;
    }
    const auto& inodes = scratch.answer.inodes;
    for (const auto& [inode, index] : scratch.byInode) {
        const auto at = std::lower_bound(inodes.begin(), inodes.end(), inode);
        if (at != inodes.end() && *at == inode) {
            ApplyUsage(records[index], scratch.answer.usage[at - inodes.begin()]);
        }
    }
}

// Searches the extents of `inodes`; a long list is split into parts searched on as many
// threads as there are cores. The walk states a large folder's entries on all cores, and its
// extents would otherwise be read on one while the others wait: a flat folder of 18,000
// manual pages holds a quarter of the files of /usr/share, and one listing batch of it about
// 1,600. The search costs about 1.5 us a file, starting a thread about as much as 30 files.
ExtentSearch SearchInParts(int dirFd, std::span<const std::uint64_t> inodes,
                           std::span<FileExtentUsage> usage) {
    constexpr std::size_t kInodesPerThread = 512;
    static const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t parts = std::min(cores, inodes.size() / kInodesPerThread);
    std::vector<ExtentSearch> results(std::max<std::size_t>(parts, 1), ExtentSearch::kDone);
    {
        std::vector<std::jthread> helpers;
        std::size_t from = 0;
        for (std::size_t part = 1; part < parts; ++part) {
            const std::size_t to = inodes.size() * part / parts;
            try {
                helpers.push_back(
                    StartProgramThread<std::jthread>("ExtentSearch", [&, from, to, part] {
                        results[part] = SearchFileExtents(dirFd, inodes.subspan(from, to - from),
                                                          usage.subspan(from, to - from));
                    }));
            } catch (const std::system_error&) {
                break;  // no thread to spare: this one does the rest
            }
            from = to;
        }
        results[0] = SearchFileExtents(dirFd, inodes.subspan(from), usage.subspan(from));
    }
    for (const ExtentSearch result : results) {
        if (result != ExtentSearch::kDone) {
            return result;
        }
    }
    return ExtentSearch::kDone;
}

// btrfs: st_blocks counts data before compression, so only the extent tree tells what a file
// occupies and whether any of it is compressed. A file without blocks has no data extents and
// no inline data (the kernel counts both in st_blocks, and data not yet written back too), so
// it is not searched: it occupies nothing. Files with inline data below one block show a
// whole block and are searched.
void MeasureBtrfs(int dirFd, FolderVolume& volume, std::span<StatRecord> records,
                  MeasureScratch& scratch) {
    scratch.byInode.clear();
    for (std::uint32_t i = 0; i < records.size(); ++i) {
        if (!records[i].IsRegular() || records[i].size == 0) {
            continue;
        }
        if (records[i].blocks == 0 && volume.extentSearch) {
            ApplyUsage(records[i], FileExtentUsage{});
            continue;
        }
        scratch.byInode.emplace_back(records[i].inode, i);
    }
    if (scratch.byInode.empty()) {
        return;
    }
    std::sort(scratch.byInode.begin(), scratch.byInode.end());
    scratch.inodes.clear();
    for (const auto& [inode, index] : scratch.byInode) {
        if (scratch.inodes.empty() || scratch.inodes.back() != inode) {
            scratch.inodes.push_back(inode);
        }
    }
    if (!volume.extentSearch) {
        ApplyHelperAnswer(volume, records, scratch);
        return;
    }
    scratch.usage.resize(scratch.inodes.size());
    const ExtentSearch result = SearchInParts(dirFd, scratch.inodes, scratch.usage);
    if (result == ExtentSearch::kNotPermitted) {
        // Folders opened from now on ask the helper instead.
        volume.extentSearch = false;
        volume.measureHelper = MeasureHelper::Instance().Available();
    }
    if (result != ExtentSearch::kDone) {
        return;  // st_blocks stays the measure
    }
    std::size_t at = 0;
    for (const auto& [inode, index] : scratch.byInode) {
        while (scratch.inodes[at] != inode) {
            ++at;
        }
        ApplyUsage(records[index], scratch.usage[at]);
    }
}

// The split by algorithm, where the file system tells it: btrfs from the extents, ntfs-3g from
// the attribute word (everything compressed there is LZNT1).
void AddAlgorithms(const StatRecord& record, Entry& entry) {
    if (record.extentsKnown) {
        constexpr Algorithm kKinds[kExtentKinds] = {Algorithm::kNone, Algorithm::kZlib,
                                                    Algorithm::kLzo, Algorithm::kZstd,
                                                    Algorithm::kPrealloc};
        for (std::size_t kind = 0; kind < kExtentKinds; ++kind) {
            const ExtentFigures& figures = record.byKind[kind];
            if (figures.disk != 0 || figures.uncompressed != 0 || figures.referenced != 0) {
                entry.byAlgorithm.Add(kKinds[kind],
                                      {static_cast<std::int64_t>(figures.disk),
                                       static_cast<std::int64_t>(figures.uncompressed),
                                       static_cast<std::int64_t>(figures.referenced)});
            }
        }
    } else if ((record.ntfsAttrib & ntfs::kCompressed) != 0 && entry.size != 0) {
        entry.byAlgorithm.Add(Algorithm::kLznt1, {entry.onDisk, entry.size, entry.size});
    }
}

}  // namespace

void MeasureBatch(int dirFd, FolderVolume& volume, ListDetail detail, std::span<StatRecord> records,
                  MeasureScratch& scratch) {
    const bool state = detail == ListDetail::kSizesAndState;
    if (volume.kind == VolumeKind::kBtrfs && (volume.extentSearch || volume.measureHelper)) {
        MeasureBtrfs(dirFd, volume, records, scratch);
    }
    for (StatRecord& record : records) {
        if (volume.kind == VolumeKind::kNtfs3g) {
            // ntfs-3g reports compressed and sparse files with their real allocation in
            // st_blocks; only the attribute word tells them apart from plain files, which
            // count their logical size. So the word is needed whenever the allocation differs
            // from the size: below it (compressed or sparse) and above it (rounded up to the
            // cluster, or a compressed file that saved nothing), which is why walks on ntfs-3g
            // cost one more call per file.
            const bool wanted = record.IsRegular() ? state || record.blocks * 512 != record.size
                                                   : state && record.IsFolder();
            if (wanted) {
                record.ntfsAttrib = ReadNtfsAttribAt(dirFd, record.name).value_or(0);
                record.sparse = (record.ntfsAttrib & ntfs::kSparse) != 0;
            }
        } else if (record.IsRegular() && AllocationBelowSize(record)) {
            // Less allocated than the size: a sparse file, or data kept inline in the inode
            // (ext4 inline_data, btrfs inline extents), which only SEEK_HOLE tells apart.
            record.sparse = HasHole(dirFd, record.name, record.size);
        }
    }
}

Entry ToEntry(const StatRecord& record, const FolderVolume& volume) {
    Entry entry;
    entry.name = record.name;
    if (!record.stated) {
        // Listed but not statable (a folder with read but no search permission), or a folder
        // that the walk opens next: the name and kind from the listing, no sizes. Opening or
        // switching an unreadable one will fail in turn.
        entry.folder = record.dirType == DT_DIR;
        entry.enterable = entry.folder;
        entry.regular = record.dirType == DT_REG;
        entry.attributes = entry.folder ? attr::kDirectory : 0;
        entry.unreadable = !record.skipped;
        return entry;
    }
    // Only btrfs and f2fs compress what carries the mark; ext4 accepts the flag and reports it
    // but compresses nothing.
    const bool markCounts = volume.kind == VolumeKind::kBtrfs || volume.kind == VolumeKind::kF2fs;
    const bool marked =
        (markCounts && record.markedCompressed) || (record.ntfsAttrib & ntfs::kCompressed) != 0;
    if (record.ntfsAttrib != 0) {
        entry.attributes |= record.ntfsAttrib & (attr::kReparsePoint | attr::kEncrypted);
    }
    if (marked || record.compressedData) {
        entry.attributes |= attr::kCompressed;
    }
    if (record.sparse) {
        entry.attributes |= attr::kSparse;
    }
    if (S_ISDIR(record.mode)) {
        entry.folder = true;
        entry.attributes |= attr::kDirectory;
        // Another mount (or btrfs subvolume) is listed but not entered.
        entry.enterable = record.where.SameAs(volume.where);
    } else if (S_ISLNK(record.mode)) {
        entry.folder = record.linkToFolder;
        entry.attributes |= attr::kReparsePoint | (entry.folder ? attr::kDirectory : 0);
    } else if (S_ISREG(record.mode)) {
        entry.regular = true;
        entry.size = static_cast<std::int64_t>(record.size);
        const bool flagged = marked || record.compressedData || record.sparse;
        entry.onDisk = flagged ? ShownOnDisk(static_cast<std::int64_t>(record.occupied), entry.size)
                               : entry.size;
        entry.links = record.links;
        AddAlgorithms(record, entry);
        if (record.links > 1) {
            entry.volumeId = (std::uint64_t{record.where.devMajor} << 32) | record.where.devMinor;
            entry.fileId = record.inode;
        }
    }
    return entry;
}

}  // namespace packmeter::linuxfs
