#include "win_test_tree.hpp"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "utils/win_handle.hpp"
#include "utils/win_path.hpp"

namespace packmeter::testing {

namespace {

using win::UniqueHandle;

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    win::FindHandle find(::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, 0));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L'\\' + name;
            const DWORD attributes = data.dwFileAttributes;
            // A link to a folder goes with RemoveDirectoryW alone, never its target's content.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(child);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                ::RemoveDirectoryW(child.c_str());
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &data));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

UniqueHandle CreateNew(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw std::runtime_error("cannot create a test file");
    }
    return file;
}

}  // namespace

WinTestTree::WinTestTree() {
    std::wstring temp(64, L'\0');
    for (;;) {
        const DWORD length = ::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
        if (length < temp.size()) {
            temp.resize(length);
            break;
        }
        temp.resize(length + 1);
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::wstring name = L"packmeter-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              win::ToWide(test ? test->name() : "tree");
    const std::wstring plain = win::FullPathName(temp) + name;
    longRoot_ = win::LongPath(plain);
    RemoveTree(longRoot_);
    if (!::CreateDirectoryW(longRoot_.c_str(), nullptr)) {
        throw std::runtime_error("cannot create the test folder");
    }
    longRoot_ += L'\\';
    root_ = win::ToUtf8(plain) + '\\';
}

WinTestTree::~WinTestTree() {
    RemoveTree(longRoot_.substr(0, longRoot_.size() - 1));
}

void WinTestTree::Folder(const std::wstring& relative) {
    std::size_t from = 0;
    for (;;) {
        const auto cut = relative.find(L'\\', from);
        ::CreateDirectoryW(Long(relative.substr(0, cut)).c_str(), nullptr);
        if (cut == std::wstring::npos) {
            break;
        }
        from = cut + 1;
    }
    const DWORD attributes = Attributes(relative);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw std::runtime_error("cannot create a test folder");
    }
}

void WinTestTree::File(const std::wstring& relative, std::int64_t size) {
    const UniqueHandle file = CreateNew(Long(relative));
    std::vector<char> chunk(64 * 1024);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<char>('a' + i % 26);
    }
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(std::min<std::int64_t>(size, chunk.size()));
        DWORD written = 0;
        if (!::WriteFile(file.get(), chunk.data(), part, &written, nullptr) || written != part) {
            throw std::runtime_error("cannot write a test file");
        }
        size -= part;
    }
}

void WinTestTree::Sparse(const std::wstring& relative, std::int64_t size) {
    const UniqueHandle file = CreateNew(Long(relative));
    // Without the sparse mark NTFS would reserve every cluster of the new length.
    DWORD returned = 0;
    ::DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) {
        throw std::runtime_error("cannot size a test file");
    }
}

DWORD WinTestTree::Attributes(const std::wstring& relative) const {
    return ::GetFileAttributesW(Long(relative).c_str());
}

std::string WinTestTree::Read(const std::wstring& relative) const {
    const UniqueHandle file(::CreateFileW(Long(relative).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
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

std::string LinkFixture() {
    const char* fixture = std::getenv("PACKMETER_LINK_FIXTURE");
    return fixture ? fixture : "";
}

}  // namespace packmeter::testing
