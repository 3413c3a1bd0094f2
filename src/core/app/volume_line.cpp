#include "core/app/volume_line.hpp"

namespace packmeter {

std::string VolumeLine(const VolumeInfo& volume) {
    const bool supports = volume.valid && volume.supportsCompression;
    return std::string("File System") + ": " + (volume.valid ? volume.fileSystem : "") + "    (" +
           (supports ? "Supports file based compression"
                     : "Doesn't support file based compression!!") +
           ")";
}

std::string VolumeSummary(const VolumeInfo& volume) {
    const bool supports = volume.valid && volume.supportsCompression;
    const std::string name =
        volume.valid && !volume.fileSystem.empty() ? volume.fileSystem : "Unknown file system";
    return name + (supports ? " (supports file based compression)"
                            : " (doesn't support file based compression)");
}

}  // namespace packmeter
