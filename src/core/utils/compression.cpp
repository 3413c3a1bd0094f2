#include "core/utils/compression.hpp"

#include "core/utils/text.hpp"

namespace packmeter {

bool IsExcludedFolderName(std::string_view name) {
    return name == "." || name == "..";
}

PathParts SplitPath(std::string_view path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.remove_suffix(1);
    }
    const auto cut = path.rfind(kPathSeparator);
    if (cut == std::string_view::npos) {
        return {"", std::string(path)};
    }
    return {std::string(path.substr(0, cut + 1)), std::string(path.substr(cut + 1))};
}

bool SetFileCompression(FileSystem& fs, const std::string& path, bool decompress) {
    if (!fs.CompressionAvailable()) {
        return false;
    }
    const PathParts parts = SplitPath(path);
    if (parts.name.empty()) {
        return false;
    }
    const auto parent = fs.OpenFolder(parts.parent.empty() ? "." : parts.parent);
    return parent && parent->SetFileCompression(parts.name, decompress);
}

bool SetFolderCompression(FileSystem& fs, const std::string& path, bool decompress, bool recurse) {
    if (!fs.CompressionAvailable()) {
        return false;
    }
    const auto folder = fs.OpenFolder(path);
    return folder && SetFolderCompression(*folder, decompress, recurse);
}

bool SetFolderCompression(Folder& folder, bool decompress, bool recurse) {
    if (!folder.SetCompression(decompress)) {
        return false;
    }
    bool result = true;
    folder.List(ListDetail::kSizes, [&](const Entry& entry) {
        if (entry.folder) {
            // Links and mount points are never followed; other folders only when recursing.
            if (!recurse || !entry.enterable || IsExcludedFolderName(entry.name)) {
                return true;
            }
            const auto sub = folder.OpenSubfolder(entry.name);
            result = sub && SetFolderCompression(*sub, decompress, recurse);
        } else if (entry.regular) {
            result = folder.SetFileCompression(entry.name, decompress);
        }
        // Links to files, devices, sockets and pipes hold no data of their own: passed over.
        return result;
    });
    return result;
}

}  // namespace packmeter
