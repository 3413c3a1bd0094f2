#include "gui/win32/shell/browse_for_folder.hpp"

#include <shlobj.h>

#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

void TQelBrowseForFolder::SetRootedAtFileSystemFolder(std::string path) {
    rootPath_ = std::move(path);
    rootedAt_ = SF_FILESYSTEMFOLDER;
}

namespace {

constexpr wchar_t kPickerProperty[] = L"PackmeterPicker";
constexpr UINT_PTR kReselectTimer = 0x5E1;

// The same folder, written with or without its trailing separator.
bool SameFolder(std::wstring a, std::wstring b) {
    for (std::wstring* path : {&a, &b}) {
        while (path->size() > 3 && (path->back() == L'\\' || path->back() == L'/')) {
            path->pop_back();
        }
    }
    return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

}  // namespace

int CALLBACK TQelBrowseForFolder::Callback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
    auto& self = *reinterpret_cast<TQelBrowseForFolder*>(data);
    if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {};
        const auto item = reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam);
        self.selectedWide_ = item && ::SHGetPathFromIDListW(item, path) ? path : L"";
    }
    if (message == BFFM_INITIALIZED && !self.startWide_.empty()) {
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE,
                       reinterpret_cast<LPARAM>(self.startWide_.c_str()));
        // The tree may still be filling and lose the selection: it is sent again shortly.
        ::SetPropW(dialog, kPickerProperty, &self);
        self.reselects_ = 0;
        ::SetTimer(dialog, kReselectTimer, 150, &TQelBrowseForFolder::Reselect);
    }
    return 0;
}

void CALLBACK TQelBrowseForFolder::Reselect(HWND dialog, UINT, UINT_PTR id, DWORD) {
    auto* self = static_cast<TQelBrowseForFolder*>(::GetPropW(dialog, kPickerProperty));
    if (!self || ++self->reselects_ >= 3) {
        ::KillTimer(dialog, id);
        ::RemovePropW(dialog, kPickerProperty);
    }
    // Only when the tree has lost it: selecting it again would move the tree to and fro.
    if (self && !SameFolder(self->selectedWide_, self->startWide_)) {
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE,
                       reinterpret_cast<LPARAM>(self->startWide_.c_str()));
    }
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
    // Opens at the folder shown, when it lies under the root.
    selectedWide_.clear();
    startWide_ = startFolder_.empty() || !ObjectExists(startFolder_) ? std::wstring()
                                                                     : win::ToWide(startFolder_);
    info.lpfn = &TQelBrowseForFolder::Callback;
    info.lParam = reinterpret_cast<LPARAM>(this);
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
