#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "core/utils/version_text.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter {

namespace {

using win::UniqueHandle;

// The operating system's version record, filled once at start-up before any thread exists.
OSVERSIONINFOW ReadVersionRecord() {
    OSVERSIONINFOW record{};
    record.dwOSVersionInfoSize = sizeof record;
    if (!::GetVersionExW(&record)) {
        record.dwPlatformId = 0;
    }
    return record;
}

const OSVERSIONINFOW kVersionRecord = ReadVersionRecord();

std::string LocaleText(LCTYPE type) {
    const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, nullptr, 0);
    if (length <= 1) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text.data(), length) != length) {
        return {};
    }
    text.resize(static_cast<std::size_t>(length) - 1);
    return win::ToUtf8(text);
}

NumberFormat ReadNumberFormat() {
    NumberFormat format;
    if (std::string thousands = LocaleText(LOCALE_STHOUSAND); !thousands.empty()) {
        format.thousands = std::move(thousands);
    }
    if (std::string decimal = LocaleText(LOCALE_SDECIMAL); !decimal.empty()) {
        format.decimal = std::move(decimal);
    }
    return format;
}

std::wstring ModuleFileName() {
    std::wstring name(512, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        // A name that filled the buffer completely may have been cut short.
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

std::string VersionValue(std::vector<std::byte>& block, const wchar_t* key) {
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), key, &value, &length) || !value || length == 0) {
        return {};
    }
    // The length counts characters and, depending on who wrote the resource, the closing null.
    const auto* text = static_cast<const wchar_t*>(value);
    return win::ToUtf8(std::wstring_view(text, wcsnlen(text, length)));
}

}  // namespace

const NumberFormat& UserNumberFormat() {
    static const NumberFormat format = ReadNumberFormat();
    return format;
}

bool IsFolder(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(win::LongPath(win::ToWide(path)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string PathProblem(const std::string& path) {
    if (path.empty()) {
        return "empty path";
    }
    if (::GetFileAttributesW(win::LongPath(win::ToWide(path)).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return "";
    }
    switch (const DWORD error = ::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return "no such file or folder";
        case ERROR_CANT_RESOLVE_FILENAME:
            return "symbolic-link loop";
        case ERROR_ACCESS_DENIED:
            return "permission denied";
        default:
            return "error " + std::to_string(error);
    }
}

bool EnableBackupPrivilege() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        return false;
    }
    const UniqueHandle token(raw);
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    if (!::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &wanted.Privileges[0].Luid)) {
        return false;
    }
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = 0;
    // The call reports success even when the account does not hold the privilege; only the last
    // error (ERROR_NOT_ALL_ASSIGNED) says so.
    ::AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof previous, &previous, &previousSize);
    return ::GetLastError() == ERROR_SUCCESS;
}

std::string GetVersionString(bool productOnly, const std::string& fileName) {
    const std::wstring file =
        fileName.empty() ? ModuleFileName() : win::LongPath(win::ToWide(fileName));
    if (file.empty()) {
        return {};
    }
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<std::byte> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
        return {};
    }
    return ComposeVersionString(VersionValue(block, L"\\StringFileInfo\\040904E4\\ProductVersion"),
                                VersionValue(block, L"\\StringFileInfo\\040904E4\\FileVersion"),
                                productOnly);
}

bool IsNTPlatform() {
    return kVersionRecord.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Windows folders are opened by path, one at a time: no descriptor limit applies.
void RaiseOpenFileLimit() {}

void DisableMeasureHelper() {}

std::string FullPath(const std::string& path) {
    return win::ToUtf8(win::FullPathName(win::ToWide(path)));
}

}  // namespace packmeter
