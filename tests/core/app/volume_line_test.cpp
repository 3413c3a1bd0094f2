#include "core/app/volume_line.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

TEST(VolumeLine, NamesTheFileSystemAndWhetherItCompresses) {
    EXPECT_EQ(VolumeLine({true, "NTFS", true, ""}),
              "File System: NTFS    (Supports file based compression)");
    EXPECT_EQ(VolumeLine({true, "ext4", false, ""}),
              "File System: ext4    (Doesn't support file based compression!!)");
    EXPECT_EQ(VolumeLine({}), "File System:     (Doesn't support file based compression!!)");
}

}  // namespace
}  // namespace packmeter
