#include "core/shell/browse_options.hpp"

namespace packmeter {

std::string ChosenFolderPath(std::string path) {
    const auto isSeparator = [](char c) { return c == '/' || c == '\\'; };
    while (path.size() > 1 && isSeparator(path.back())) {
        const bool driveRoot = path.size() == 3 && path[1] == ':';
        if (driveRoot) {
            break;
        }
        path.pop_back();
    }
    if (path.size() == 2 && path[1] == ':') {
        path += '\\';
    }
    return path;
}

}  // namespace packmeter
