#include "core/exceptlog/system_name.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

TEST(SystemName, WindowsReleasesByVersionAndBuild) {
    const struct {
        std::uint32_t major, minor, build;
        bool workstation;
        const char* name;
    } cases[] = {
        {5, 1, 2600, true, "Microsoft Windows XP"},
        {5, 2, 3790, false, "Microsoft Windows 2003"},
        {6, 1, 7601, true, "Microsoft Windows 7"},
        {6, 3, 9600, false, "Microsoft Windows Server 2012 R2"},
        {10, 0, 19045, true, "Microsoft Windows 10"},
        {10, 0, 22000, true, "Microsoft Windows 11"},
        {10, 0, 26100, true, "Microsoft Windows 11"},
        {10, 0, 14393, false, "Microsoft Windows Server 2016"},
        {10, 0, 17763, false, "Microsoft Windows Server 2019"},
        {10, 0, 20348, false, "Microsoft Windows Server 2022"},
        {11, 0, 30000, true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowsSystemName(c.major, c.minor, c.build, c.workstation), c.name) << c.build;
    }
}

TEST(SystemName, PrettyNameOfOsRelease) {
    EXPECT_EQ(OsReleaseName("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                            "(bookworm)\"\nID=debian\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(OsReleaseName("PRETTY_NAME=Plain"), "Plain");
    EXPECT_EQ(OsReleaseName("PRETTY_NAME='It\\'s \\\"quoted\\\"'\n"), "It's \"quoted\"");
    EXPECT_EQ(OsReleaseName("NAME=Only\nXPRETTY_NAME=no\n"), "");
}

}  // namespace
}  // namespace packmeter
