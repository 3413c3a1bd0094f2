#include "platform/windows/scan/shell_icon_source.hpp"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "core/utils/text.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter {

namespace {

constexpr UINT kSmallSystemIcon = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;

// The types whose files carry icons of their own: programs, icons and cursors, shortcuts.
// Every other file shows its type's icon.
constexpr std::array<std::wstring_view, 10> kOwnIconTypes = {
    L"exe", L"ico", L"cur", L"ani", L"lnk", L"url", L"scr", L"cpl", L"pif", L"appref-ms"};

// The lower-case extension of `name` (after its last dot), empty when it has none.
std::wstring Extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) {
        return {};
    }
    std::wstring extension = win::ToWide(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; });
    return extension;
}

// The icon of a kind of entry, from its name and attributes alone: the shell opens nothing.
int TypeIcon(const std::wstring& name, DWORD attributes) {
    SHFILEINFOW info{};
    if (::SHGetFileInfoW(name.c_str(), attributes, &info, sizeof info,
                         kSmallSystemIcon | SHGFI_USEFILEATTRIBUTES)) {
        return info.iIcon;
    }
    return -1;
}

// Asking the shell for a file by its path costs the more the larger its folder is (it reads
// the folder), so a listing of many files asks once per type: by type for files whose icon is
// their type's, and by path only for the few with icons of their own, when their rows are drawn.
class ShellIconSource final : public IconSource {
  public:
    int IconIndex(const std::string&, std::string_view name, bool isFolder) override {
        if (isFolder) {
            return Cached(L"\\", [] { return TypeIcon(L"folder", FILE_ATTRIBUTE_DIRECTORY); });
        }
        const std::wstring extension = Extension(name);
        if (std::find(kOwnIconTypes.begin(), kOwnIconTypes.end(), extension) !=
            kOwnIconTypes.end()) {
            return kOwnIcon;
        }
        return Cached(extension,
                      [&] { return TypeIcon(L"file." + extension, FILE_ATTRIBUTE_NORMAL); });
    }

    int OwnIconIndex(const std::string& folder, std::string_view name) override {
        // The shell wants COM on the asking thread.
        thread_local const win::ComApartment apartment;
        SHFILEINFOW info{};
        const std::wstring path = win::ToWide(IncludeTrailingChar(folder) + std::string(name));
        // The shell parses no "\\?\" paths: an entry deeper than that gets its type's icon.
        if (path.size() < MAX_PATH && ::SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_NORMAL, &info,
                                                       sizeof info, kSmallSystemIcon)) {
            return info.iIcon;
        }
        return TypeIcon(L"file." + Extension(name), FILE_ATTRIBUTE_NORMAL);
    }

  private:
    template <typename LookUp>
    int Cached(const std::wstring& key, const LookUp& lookUp) {
        {
            std::lock_guard guard(lock_);
            if (const auto known = byType_.find(key); known != byType_.end()) {
                return known->second;
            }
        }
        // Scans ask from their worker threads, which have no COM of their own yet.
        thread_local const win::ComApartment apartment;
        const int index = lookUp();
        std::lock_guard guard(lock_);
        byType_.emplace(key, index);
        return index;
    }

    std::mutex lock_;
    // The icon by lower-case extension ("\\" for folders, which no extension can be).
    std::map<std::wstring, int, std::less<>> byType_;
};

}  // namespace

std::shared_ptr<IconSource> MakeShellIconSource() {
    return std::make_shared<ShellIconSource>();
}

}  // namespace packmeter
