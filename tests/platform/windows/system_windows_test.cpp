#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "core/utils/version.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"
#include "tests/platform/windows/win_test_tree.hpp"

namespace packmeter {
namespace {

using testing::RunningUnderWine;

TEST(SystemUtilities, VersionStringFromAProgramsVersionResource) {
    const std::string both = std::string(kProductVersion) + "   (" + kFileVersion + ")";
    EXPECT_EQ(GetVersionString(true), kProductVersion);
    EXPECT_EQ(GetVersionString(false), both);

    // A copy deep below a non-Latin name: the path goes through the wide calls.
    testing::WinTestTree tree;
    const std::wstring folder = L"\u6F22\u5B57\\" + std::wstring(250, L'v');
    tree.Folder(folder);
    std::wstring self(4096, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    ASSERT_TRUE(::CopyFileW(self.c_str(), tree.Long(folder + L"\\copy.exe").c_str(), FALSE));
    EXPECT_EQ(GetVersionString(false, tree.Root() + win::ToUtf8(folder) + "\\copy.exe"), both);

    tree.File(L"notes.txt", 300);
    EXPECT_EQ(GetVersionString(false, tree.Root() + "notes.txt"), "");
    EXPECT_EQ(GetVersionString(true, tree.Root() + "missing.exe"), "");
    EXPECT_TRUE(IsNTPlatform());
}

bool BackupPrivilegeHeld() {
    HANDLE raw = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw);
    const win::UniqueHandle token(raw);
    LUID backup{};
    ::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &backup);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<std::byte> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) {
        return false;
    }
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = held->Privileges[i];
        if (p.Luid.LowPart == backup.LowPart && p.Luid.HighPart == backup.HighPart) {
            return p.Attributes & SE_PRIVILEGE_ENABLED;
        }
    }
    return false;
}

TEST(SystemUtilities, BackupPrivilegeResultIsWhatTheTokenNowHolds) {
    const bool enabled = EnableBackupPrivilege();
    EXPECT_EQ(enabled, BackupPrivilegeHeld());
    EXPECT_TRUE(enabled || !RunningUnderWine());  // Wine runs everything as an administrator
}

TEST(SystemUtilities, NumberFormatFromTheUserLocale) {
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "depends on the user's regional settings";
    }
    // CI runs Wine with LANG=C.UTF-8, which Wine takes as US English.
    EXPECT_EQ(FormatSize(2, 123456789, UserNumberFormat()), "117.74 MB");
    EXPECT_EQ(FormatSize(0, 99999, UserNumberFormat()), "99,999 Bytes");
}

}  // namespace
}  // namespace packmeter
