#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "system.hpp"
#include "utils/win_handle.hpp"
#include "utils/win_path.hpp"
#include "win_test_tree.hpp"

namespace packmeter {
namespace {

using testing::RunningUnderWine;
using testing::WinTestTree;

std::wstring OwnFileName() {
    std::wstring name(4096, L'\0');
    name.resize(::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size())));
    return name;
}

TEST(GetVersionString, ReadsTheVersionResourceOfAProgramFile) {
    const std::string product = PACKMETER_PRODUCT_VERSION_TEXT;
    const std::string file = PACKMETER_FILE_VERSION_TEXT;
    EXPECT_EQ(GetVersionString(true), product);
    EXPECT_EQ(GetVersionString(false), product + "   (" + file + ")");

    // A copy far down a folder with a non-Latin name: the path goes through the wide calls.
    WinTestTree tree;
    const std::wstring folder = L"\u6F22\u5B57\\" + std::wstring(250, L'v');
    tree.Folder(folder);
    ASSERT_TRUE(
        ::CopyFileW(OwnFileName().c_str(), tree.Long(folder + L"\\copy.exe").c_str(), FALSE));
    const std::string copy = tree.Root() + win::ToUtf8(folder) + "\\copy.exe";
    EXPECT_EQ(GetVersionString(false, copy), product + "   (" + file + ")");

    tree.File(L"notes.txt", 300);
    EXPECT_EQ(GetVersionString(false, tree.Root() + "notes.txt"), "");
    EXPECT_EQ(GetVersionString(true, tree.Root() + "missing.exe"), "");
}

TEST(SystemUtilities, NtPlatformOffersCompression) {
    EXPECT_TRUE(IsNTPlatform());
    EXPECT_TRUE(MakeFileSystem()->CompressionAvailable());
}

bool BackupPrivilegeEnabled() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return false;
    }
    const win::UniqueHandle token(raw);
    LUID backup{};
    ::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &backup);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<std::byte> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) {
        return false;
    }
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
        if (p.Luid.LowPart == backup.LowPart && p.Luid.HighPart == backup.HighPart) {
            return p.Attributes & SE_PRIVILEGE_ENABLED;
        }
    }
    return false;
}

TEST(SystemUtilities, BackupPrivilegeReportsWhatTheTokenNowHolds) {
    const bool enabled = EnableBackupPrivilege();
    EXPECT_EQ(enabled, BackupPrivilegeEnabled());
    // Wine's processes run as an administrator who holds the privilege.
    if (RunningUnderWine()) {
        EXPECT_TRUE(enabled);
    }
    EXPECT_EQ(EnableBackupPrivilege(), enabled);
}

TEST(SystemUtilities, FullPathAndIsFolder) {
    WinTestTree tree;
    tree.Folder(L"sub");
    tree.File(L"sub\\file.txt", 10);
    const std::string root = tree.Root();

    EXPECT_EQ(FullPath(root + "sub\\.\\x\\..\\file.txt"), root + "sub\\file.txt");
    EXPECT_EQ(FullPath(root + "sub/"), root + "sub\\");
    ASSERT_TRUE(::SetCurrentDirectoryW(win::ToWide(root + "sub").c_str()));
    EXPECT_EQ(FullPath("file.txt"), root + "sub\\file.txt");
    EXPECT_EQ(FullPath(".."), root.substr(0, root.size() - 1));
    ::SetCurrentDirectoryW(L"C:\\");

    EXPECT_TRUE(IsFolder(root + "sub"));
    EXPECT_TRUE(IsFolder(root + "sub\\"));
    EXPECT_TRUE(IsFolder(root.substr(0, 3)));
    EXPECT_FALSE(IsFolder(root + "sub\\file.txt"));
    EXPECT_FALSE(IsFolder(root + "missing"));
    EXPECT_FALSE(IsFolder(""));
}

TEST(SystemUtilities, NumberFormatFromTheUserLocale) {
    const NumberFormat& format = UserNumberFormat();
    EXPECT_FALSE(format.thousands.empty());
    EXPECT_FALSE(format.decimal.empty());
    EXPECT_NE(format.thousands, format.decimal);
    EXPECT_EQ(&UserNumberFormat(), &format);
    if (RunningUnderWine()) {
        // CI runs Wine with LANG=C.UTF-8, which Wine takes as US English.
        EXPECT_EQ(FormatSize(2, 123456789, format), "117.74 MB");
        EXPECT_EQ(FormatSize(0, 99999, format), "99,999 Bytes");
    }
}

}  // namespace
}  // namespace packmeter
