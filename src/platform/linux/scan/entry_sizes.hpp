#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "platform/linux/scan/btrfs_extents.hpp"
#include "platform/linux/scan/entry_stat.hpp"
#include "platform/linux/scan/measure_client.hpp"
#include "platform/linux/scan/volume.hpp"

namespace packmeter::linuxfs {

// Working room of MeasureBatch, kept across the batches of one listing.
struct MeasureScratch {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> byInode;  // inode, record index
    std::vector<std::uint64_t> inodes;
    std::vector<FileExtentUsage> usage;
    // btrfs without CAP_SYS_ADMIN: the measuring helper's request for this folder, sent before
    // the listing was read, and its answer once taken.
    MeasureHelper::Pending* pending = nullptr;
    bool answerTaken = false;
    FolderFigures answer;
};

// Adds to a batch of stated entries of the open folder `dirFd` what their sizes and states
// need beyond statx: on btrfs the extent figures of the files (one search for the batch), on
// ntfs-3g the attribute word, elsewhere whether a file with less allocation than size has a
// hole. With ListDetail::kSizes only what changes the sizes is read. When the extent search
// turns out not to be permitted, `volume.extentSearch` is switched off.
void MeasureBatch(int dirFd, FolderVolume& volume, ListDetail detail, std::span<StatRecord> records,
                  MeasureScratch& scratch);

// The entry as the core sees it. A file that is neither compressed nor sparse counts its
// logical size; a compressed or sparse one the bytes it really occupies, which is more than its
// size when compression saved less than the allocation rounding costs (a negative ratio).
Entry ToEntry(const StatRecord& record, const FolderVolume& volume);

}  // namespace packmeter::linuxfs
