#include "core/utils/compression.hpp"

#include "core/utils/text.hpp"

namespace packmeter {

namespace {

bool Fail(CompressionFailure* failure, std::string path, std::string reason) {
    if (failure) {
        *failure = {std::move(path), std::move(reason)};
    }
    return false;
}

}  // namespace

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

bool SetFileCompression(FileSystem& fs, const std::string& path, bool decompress,
                        CompressionFailure* failure) {
    if (!fs.CompressionAvailable()) {
        return Fail(failure, path, "not supported on this system");
    }
    const PathParts parts = SplitPath(path);
    if (parts.name.empty()) {
        return Fail(failure, path, "not a file");
    }
    const auto parent = fs.OpenFolder(parts.parent.empty() ? "." : parts.parent);
    if (!parent) {
        return Fail(failure, path, "its folder cannot be opened");
    }
    return parent->SetFileCompression(parts.name, decompress) ||
           Fail(failure, path, parent->LastFailure());
}

}  // namespace packmeter
