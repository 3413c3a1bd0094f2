#include "gui/win32/shell/browse_for_folder.hpp"

#include <shlobj.h>

#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

void TQelBrowseForFolder::SetRootedAtFileSystemFolder(std::string path) {
    rootPath_ = std::move(path);
    rootedAt_ = SF_FILESYSTEMFOLDER;
}

bool TQelBrowseForFolder::Execute() {
    const HWND owner = DialogOwnerWindow();
    UniquePidl root;
    if (!rootPath_.empty() && ObjectExists(rootPath_)) {
        root = ParseNameToIDList(nullptr, rootPath_);
    } else {
        root = SpecialFolderIDList(rootedAt_);
    }
    UINT flags = 0;
    flags |= options_.Has(bfNewDialogStyle) ? BIF_NEWDIALOGSTYLE : 0;
    flags |= options_.Has(bfFileSystemOnly) ? BIF_RETURNONLYFSDIRS : 0;
    flags |= options_.Has(bfBrowseIncludeFiles) ? BIF_BROWSEINCLUDEFILES : 0;
    flags |= options_.Has(bfEditBox) ? BIF_EDITBOX : 0;
    // The shell writes the chosen item's display name here: at most MAX_PATH characters.
    std::wstring displayName(MAX_PATH, L'\0');
    const std::wstring title = win::ToWide(title_);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.get();
    info.pszDisplayName = displayName.data();
    info.lpszTitle = title.c_str();
    info.ulFlags = flags;
    if (onShow) {
        onShow();
    }
    const UniquePidl chosen(::SHBrowseForFolderW(&info));
    selected_ = IDListToPath(chosen.get());
    if (onClose) {
        onClose();
    }
    return chosen != nullptr;
}

}  // namespace packmeter::win32
