#include "core/app/volume_line.hpp"

namespace packmeter {

std::string VolumeLine(const VolumeInfo& volume) {
    const bool supports = volume.valid && volume.supportsCompression;
    return std::string("File System") + ": " + (volume.valid ? volume.fileSystem : "") + "    (" +
           (supports ? "Supports file based compression"
                     : "Doesn't support file based compression!!") +
           ")";
}

}  // namespace packmeter
