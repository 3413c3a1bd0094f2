#include "gui/win32/shell/shell_namespace.hpp"

#include <shlwapi.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

ShellEnvironment* currentShell = nullptr;
HWND dialogOwner = nullptr;

constexpr std::array<int, 37> kCsidl = {CSIDL_DRIVES,
                                        CSIDL_BITBUCKET,
                                        CSIDL_CONTROLS,
                                        CSIDL_DESKTOP,
                                        CSIDL_DESKTOPDIRECTORY,
                                        CSIDL_DRIVES,
                                        CSIDL_FONTS,
                                        CSIDL_NETHOOD,
                                        CSIDL_NETWORK,
                                        CSIDL_PERSONAL,
                                        CSIDL_PRINTERS,
                                        CSIDL_PROGRAMS,
                                        CSIDL_RECENT,
                                        CSIDL_SENDTO,
                                        CSIDL_STARTMENU,
                                        CSIDL_STARTUP,
                                        CSIDL_TEMPLATES,
                                        CSIDL_FAVORITES,
                                        CSIDL_COMMON_STARTMENU,
                                        CSIDL_COMMON_STARTUP,
                                        CSIDL_COMMON_DESKTOPDIRECTORY,
                                        CSIDL_APPDATA,
                                        CSIDL_PRINTHOOD,
                                        CSIDL_COMMON_FAVORITES,
                                        CSIDL_INTERNET_CACHE,
                                        CSIDL_COOKIES,
                                        CSIDL_HISTORY,
                                        CSIDL_COMMON_PROGRAMS,
                                        CSIDL_ALTSTARTUP,
                                        CSIDL_COMMON_APPDATA,
                                        CSIDL_COMMON_DOCUMENTS,
                                        CSIDL_INTERNET,
                                        CSIDL_LOCAL_APPDATA,
                                        CSIDL_MYPICTURES,
                                        CSIDL_PROGRAM_FILES,
                                        CSIDL_SYSTEM,
                                        CSIDL_PROGRAM_FILES_COMMON};

const ITEMIDLIST kEmptyList{};

UniquePidl Allocate(UINT bytes) {
    auto* memory = static_cast<ITEMIDLIST*>(::CoTaskMemAlloc(bytes));
    if (memory) {
        std::memset(memory, 0, bytes);
    }
    return UniquePidl(memory);
}

}  // namespace

ShellEnvironment::ShellEnvironment() {
    oleInitialized_ = SUCCEEDED(::OleInitialize(nullptr));
    if (FAILED(::SHGetMalloc(allocator_.put())) || FAILED(::SHGetDesktopFolder(desktop_.put()))) {
        allocator_.reset();
        desktop_.reset();
    }
    currentShell = this;
}

ShellEnvironment::~ShellEnvironment() {
    currentShell = nullptr;
    desktop_.reset();
    allocator_.reset();
    if (oleInitialized_) {
        ::OleUninitialize();
    }
}

ShellEnvironment* Shell() {
    return currentShell;
}

const ITEMIDLIST* EmptyIDList() {
    return &kEmptyList;
}

UINT IDListSize(const ITEMIDLIST* list) {
    if (!list) {
        return 0;
    }
    UINT size = sizeof(USHORT);
    const auto* bytes = reinterpret_cast<const BYTE*>(list);
    for (USHORT cb; std::memcpy(&cb, bytes, sizeof(cb)), cb != 0; bytes += cb) {
        size += cb;
    }
    return size;
}

UINT IDListItemCount(const ITEMIDLIST* list) {
    if (!list) {
        return 0;
    }
    UINT count = 0;
    const auto* bytes = reinterpret_cast<const BYTE*>(list);
    for (USHORT cb; std::memcpy(&cb, bytes, sizeof(cb)), cb != 0; bytes += cb) {
        ++count;
    }
    return count;
}

UniquePidl CopyIDList(const ITEMIDLIST* list) {
    if (!list) {
        return nullptr;
    }
    const UINT size = IDListSize(list);
    UniquePidl copy = Allocate(size);
    if (copy) {
        std::memcpy(copy.get(), list, size);
    }
    return copy;
}

UniquePidl ConcatIDLists(const ITEMIDLIST* first, const ITEMIDLIST* second) {
    if (!first) {
        return CopyIDList(second);
    }
    if (!second) {
        return CopyIDList(first);
    }
    const UINT firstItems = IDListSize(first) - sizeof(USHORT);
    const UINT secondSize = IDListSize(second);
    UniquePidl joined = Allocate(firstItems + secondSize);
    if (joined) {
        auto* bytes = reinterpret_cast<BYTE*>(joined.get());
        std::memcpy(bytes, first, firstItems);
        std::memcpy(bytes + firstItems, second, secondSize);
    }
    return joined;
}

int SpecialFolderCsidl(TQelShellFolder folder) {
    return kCsidl.at(folder);
}

UniquePidl SpecialFolderIDList(TQelShellFolder folder) {
    ITEMIDLIST* list = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, SpecialFolderCsidl(folder), &list))) {
        return nullptr;
    }
    return UniquePidl(list);
}

TQelShellFolder SpecialFolderOf(const ITEMIDLIST* list) {
    if (!list || !Shell() || !Shell()->Ready()) {
        return SF_FILESYSTEMFOLDER;
    }
    for (int value = SF_BITBUCKET; value <= SF_PROGRAM_FILES_COMMON; ++value) {
        const auto folder = static_cast<TQelShellFolder>(value);
        const UniquePidl special = SpecialFolderIDList(folder);
        if (special && HRESULT_CODE(Shell()->Desktop()->CompareIDs(0, special.get(), list)) == 0) {
            return folder;
        }
    }
    return SF_FILESYSTEMFOLDER;
}

UniquePidl ParseNameToIDList(IShellFolder* folder, const std::string& name) {
    if (!folder) {
        if (!Shell() || !Shell()->Ready()) {
            return nullptr;
        }
        folder = Shell()->Desktop();
    }
    std::wstring wide = win::ToWide(name);
    ITEMIDLIST* list = nullptr;
    if (folder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &list, nullptr) == S_OK) {
        return UniquePidl(list);
    }
    // Some shells parse a path past the old length limit only in its "\\?\" form.
    if (wide.size() >= MAX_PATH && folder == Shell()->Desktop()) {
        std::wstring longForm = win::LongPath(wide);
        if (folder->ParseDisplayName(nullptr, nullptr, longForm.data(), nullptr, &list, nullptr) ==
            S_OK) {
            return UniquePidl(list);
        }
    }
    return nullptr;
}

std::string IDListToPath(const ITEMIDLIST* list) {
    if (!list || !Shell() || !Shell()->Ready()) {
        return {};
    }
    if (IDListItemCount(list) < 2 && SpecialFolderOf(list) != SF_PERSONAL) {
        // Directly below the desktop only items of the file system give file data.
        WIN32_FIND_DATAW data{};
        if (FAILED(::SHGetDataFromIDListW(Shell()->Desktop(), list, SHGDFIL_FINDDATA, &data,
                                          sizeof(data)))) {
            return {};
        }
    }
    // The long-path form of the call, with room for the longest path the system allows.
    std::wstring path(32768, L'\0');
    if (!::SHGetPathFromIDListEx(list, path.data(), DWORD(path.size()), GPFIDL_DEFAULT)) {
        return {};
    }
    path.resize(std::wcslen(path.c_str()));
    return win::ToUtf8(path);
}

bool ObjectExists(const std::string& path) {
    if ((path.size() == 2 || path.size() == 3) && path[1] == ':') {
        return true;
    }
    if (path.empty()) {
        return false;
    }
    WIN32_FIND_DATAW data;
    const win::FindHandle found(::FindFirstFileExW(win::LongPath(win::ToWide(path)).c_str(),
                                                   FindExInfoBasic, &data, FindExSearchNameMatch,
                                                   nullptr, 0));
    return bool(found);
}

std::string StrRetToString(STRRET& value, const ITEMIDLIST* relative) {
    switch (value.uType) {
        case STRRET_WSTR: {
            std::string text = value.pOleStr ? win::ToUtf8(value.pOleStr) : std::string();
            ::CoTaskMemFree(value.pOleStr);
            value.pOleStr = nullptr;
            return text;
        }
        case STRRET_OFFSET: {
            if (!relative) {
                return {};
            }
            const char* ansi = reinterpret_cast<const char*>(relative) + value.uOffset;
            const int length = ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
            std::wstring wide(std::size_t(std::max(length, 1)), L'\0');
            ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length);
            wide.resize(std::wcslen(wide.c_str()));
            return win::ToUtf8(wide);
        }
        case STRRET_CSTR: {
            const std::size_t length = strnlen(value.cStr, sizeof(value.cStr));
            std::wstring wide(length + 1, L'\0');
            const int made = ::MultiByteToWideChar(CP_ACP, 0, value.cStr, int(length), wide.data(),
                                                   int(wide.size()));
            wide.resize(std::size_t(std::max(made, 0)));
            return win::ToUtf8(wide);
        }
        default:
            return {};
    }
}

void SetMainWindow(HWND window) {
    dialogOwner = window;
}

HWND DialogOwnerWindow() {
    if (dialogOwner && ::IsWindow(dialogOwner)) {
        return dialogOwner;
    }
    return ::GetActiveWindow();
}

}  // namespace packmeter::win32
