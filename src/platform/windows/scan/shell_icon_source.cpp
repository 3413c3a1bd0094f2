#include "platform/windows/scan/shell_icon_source.hpp"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "core/utils/text.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter {

namespace {

constexpr UINT kSmallSystemIcon = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;

class ShellIconSource final : public IconSource {
  public:
    int IconIndex(const std::string& folder, std::string_view name, bool isFolder) override {
        // The shell wants COM on the asking thread, and scans ask from their worker thread.
        thread_local const win::ComApartment apartment;

        SHFILEINFOW info{};
        const std::wstring path = win::ToWide(IncludeTrailingChar(folder) + std::string(name));
        // The shell parses no "\\?\" paths: an entry deeper than that gets the usual icon of
        // its kind, chosen from its name and attributes without opening it.
        if (path.size() < MAX_PATH && ::SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_NORMAL, &info,
                                                       sizeof info, kSmallSystemIcon)) {
            return info.iIcon;
        }
        const std::wstring wideName = win::ToWide(name);
        if (::SHGetFileInfoW(wideName.c_str(),
                             isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL, &info,
                             sizeof info, kSmallSystemIcon | SHGFI_USEFILEATTRIBUTES)) {
            return info.iIcon;
        }
        return -1;
    }
};

}  // namespace

std::shared_ptr<IconSource> MakeShellIconSource() {
    return std::make_shared<ShellIconSource>();
}

}  // namespace packmeter
