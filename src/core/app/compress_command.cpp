#include "core/app/compress_command.hpp"

#include "core/scan/folder_walk.hpp"
#include "core/utils/compression.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

struct Found {
    bool present = false;
    bool folder = false;
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
};

Found LookUp(FileSystem& fs, const std::string& folder, const std::string& name) {
    Found found;
    if (const auto dir = fs.OpenFolder(folder)) {
        dir->List(ListDetail::kSizes, [&](const Entry& entry) {
            if (entry.name != name) {
                return true;
            }
            found = {true, entry.folder && entry.enterable, entry.size, entry.onDisk};
            return false;
        });
    }
    return found;
}

}  // namespace

std::optional<EntryRow> CompressEntry(FileSystem& fs, const std::string& folder,
                                      const std::string& name, bool decompress, int iconIndex) {
    const std::string path = IncludeTrailingChar(folder) + name;
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    bool isFolder = false;
    if (LookUp(fs, folder, name).folder) {
        isFolder = true;
        const FolderSizes sizes =
            GetFolderSizes(fs, IncludeTrailingChar(path), decompress ? kDecompress : kCompress);
        logical = sizes.logical;
        onDisk = sizes.onDisk;
    } else {
        if (!SetFileCompression(fs, path, decompress)) {
            return std::nullopt;
        }
        const Found found = LookUp(fs, folder, name);
        if (!found.present) {
            return std::nullopt;
        }
        logical = found.size;
        onDisk = found.onDisk;
    }
    EntryRow row = MakeEntryRow(name, iconIndex, isFolder, false, logical, onDisk);
    row.keys.state = decompress ? CompressionState::kPlain : CompressionState::kCompressed;
    return row;
}

}  // namespace packmeter
