#include "tests/platform/windows/win_test_tree.hpp"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::testing {

namespace {

void Require(bool done, const char* what) {
    if (!done) {
        throw std::runtime_error(std::string("cannot ") + what);
    }
}

// Links to folders go with RemoveDirectoryW alone, never with their target's content.
void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    win::FindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    while (find) {
        const std::wstring name = data.cFileName;
        const std::wstring child = path + L'\\' + name;
        const DWORD attributes = data.dwFileAttributes;
        if (name != L"." && name != L"..") {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ::DeleteFileW(child.c_str());
            } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                ::RemoveDirectoryW(child.c_str());
            } else {
                RemoveTree(child);
            }
        }
        if (!::FindNextFileW(find.get(), &data)) {
            find.reset();
        }
    }
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace

WinTestTree::WinTestTree() {
    std::wstring temp(::GetTempPathW(0, nullptr), L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    const std::wstring plain =
        win::FullPathName(temp) + L"packmeter-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
        win::ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    longRoot_ = win::LongPath(plain);
    RemoveTree(longRoot_);
    Require(::CreateDirectoryW(longRoot_.c_str(), nullptr), "create the test folder");
    longRoot_ += L'\\';
    root_ = win::ToUtf8(plain) + '\\';
}

WinTestTree::~WinTestTree() {
    RemoveTree(longRoot_.substr(0, longRoot_.size() - 1));
}

void WinTestTree::Folder(const std::wstring& relative) {
    for (auto cut = relative.find(L'\\'); cut != std::wstring::npos;
         cut = relative.find(L'\\', cut + 1)) {
        ::CreateDirectoryW(Long(relative.substr(0, cut)).c_str(), nullptr);
    }
    Require(::CreateDirectoryW(Long(relative).c_str(), nullptr), "create a test folder");
}

void WinTestTree::File(const std::wstring& relative, std::int64_t size, bool sparse) {
    const win::UniqueHandle file(::CreateFileW(Long(relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Require(static_cast<bool>(file), "create a test file");
    if (sparse) {
        // Without the mark NTFS would reserve every cluster of the new length.
        DWORD returned = 0;
        ::DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = size;
        Require(
            ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()),
            "size a test file");
        return;
    }
    std::string data(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>('a' + i % 26);
    }
    DWORD written = 0;
    Require(
        ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
            written == data.size(),
        "write a test file");
}

DWORD WinTestTree::Attributes(const std::wstring& relative) const {
    return ::GetFileAttributesW(Long(relative).c_str());
}

std::string WinTestTree::Read(const std::wstring& relative) const {
    const win::UniqueHandle file(::CreateFileW(
        Long(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace packmeter::testing
