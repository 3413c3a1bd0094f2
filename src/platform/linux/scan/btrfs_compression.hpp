#pragma once

#include <optional>

#include "core/fs/filesystem.hpp"

namespace packmeter::linuxfs {

// Sets (or, with `decompress`, clears) the compression mark of an open btrfs file or folder.
// Files created in a marked folder inherit the mark. Clearing also sets "no compression", so
// that a volume mounted with compress=... leaves the folder's new files plain as asked.
// Compressing names the chosen algorithm and level for the file's new data as well.
bool SetBtrfsMark(int fd, bool decompress, const CompressionChoice& choice = {});

// Rewrites the data already in an open regular file compressed with the chosen algorithm and
// level (zstd at btrfs' default level when none is chosen), or uncompressed, and
// waits for the result to reach the disk. Data still dirty in the page cache is skipped by the
// rewrite, so the caller syncs the file system first.
//
// Compressing succeeds once the file carries the mark and its data has been offered to the
// compressor: btrfs keeps data plain that does not compress (and a NOCOW file cannot take the
// mark at all, which fails earlier, in SetBtrfsMark). Such a file is as compressed as it can
// be, which is what was asked. Decompressing succeeds only when no compressed extent is left.
bool RewriteBtrfsFile(int fd, bool decompress, const CompressionChoice& choice = {});

// Whether any extent of the open file is stored compressed, after waiting for pending writes;
// nothing when the file system cannot map extents.
std::optional<bool> HasCompressedExtents(int fd);

}  // namespace packmeter::linuxfs
