#include "gui/win32/shell/win_shell_space.hpp"

// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

// Folders, objects and menus ask for the owner window when they need it: the main window may
// be made after the browser.
using OwnerRef = std::shared_ptr<HWND>;

HWND OwnerOf(const OwnerRef& owner) {
    return (*owner && ::IsWindow(*owner)) ? *owner : DialogOwnerWindow();
}

// Without error messages the shell gets no window and must not talk to the user.
HWND InteractiveOwner(const OwnerRef& owner, bool interactive) {
    return interactive ? OwnerOf(owner) : nullptr;
}

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

struct PidlObject final : ShellObject {
    explicit PidlObject(UniquePidl list) : pidl(std::move(list)) {}
    UniquePidl pidl;
};

const ITEMIDLIST* PidlOf(const ShellObject& object) {
    return static_cast<const PidlObject&>(object).pidl.get();
}

bool IsDriveRoot(const std::string& path) {
    if (path.size() == 3 && path[1] == ':' && path[2] == '\\') {
        return true;
    }
    // A share root: \\server\share\ .
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path.back() == '\\') {
        const std::size_t server = path.find('\\', 2);
        return server != std::string::npos && path.find('\\', server + 1) == path.size() - 1;
    }
    return false;
}

class WinContextMenu final : public ShellContextMenu {
  public:
    WinContextMenu(ComPtr<IContextMenu> menu, OwnerRef owner, bool interactive)
        : handler_(std::move(menu)), owner_(std::move(owner)), interactive_(interactive) {}

    bool Build(const std::vector<MenuItem>& programItems, bool canRename) override {
        menu_.reset(::CreatePopupMenu());
        if (!menu_) {
            return false;
        }
        for (const MenuItem& item : programItems) {
            if (item.Visible && Append(menu_.get(), item)) {
                ++programCount_;
            }
        }
        UINT flags = CMF_EXPLORE;
        if (canRename) {
            flags |= CMF_CANRENAME;
        }
        if (FAILED(handler_->QueryContextMenu(menu_.get(), 0, kFirstShellCommand, kLastShellCommand,
                                              flags))) {
            return false;
        }
        // Send To and Open With draw and fill their submenus only through IContextMenu2.
        handler_->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(handler2_.put()));
        return true;
    }

    unsigned Track(ScreenPoint point) override {
        const HWND owner = OwnerOf(owner_);
        if (!owner) {
            return 0;
        }
        // The menu's messages go to the owner while it is open; the shell's submenus need them.
        const bool hooked = ::SetWindowSubclass(owner, &ForwardMenuMessages, kSubclassId,
                                                reinterpret_cast<DWORD_PTR>(this));
        // A popup menu only closes on a click elsewhere when its owner is in the foreground.
        ::SetForegroundWindow(owner);
        const int chosen = ::TrackPopupMenu(menu_.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x,
                                            point.y, 0, owner, nullptr);
        if (hooked) {
            ::RemoveWindowSubclass(owner, &ForwardMenuMessages, kSubclassId);
        }
        return chosen > 0 ? unsigned(chosen) : 0;
    }

    std::string Verb(unsigned command) override {
        wchar_t wide[MAX_PATH] = {};
        if (SUCCEEDED(handler_->GetCommandString(command - kFirstShellCommand, GCS_VERBW, nullptr,
                                                 reinterpret_cast<LPSTR>(wide), MAX_PATH)) &&
            wide[0] != 0) {
            return win::ToUtf8(wide);
        }
        // Older handlers answer only the narrow form.
        char narrow[MAX_PATH] = {};
        if (SUCCEEDED(handler_->GetCommandString(command - kFirstShellCommand, GCS_VERBA, nullptr,
                                                 narrow, MAX_PATH))) {
            return narrow;
        }
        return {};
    }

    bool Invoke(unsigned command) override {
        // The extended form with the wide verb, so that handlers work on Unicode paths.
        CMINVOKECOMMANDINFOEX info{};
        info.cbSize = sizeof(info);
        info.fMask = CMIC_MASK_UNICODE;
        info.hwnd = InteractiveOwner(owner_, interactive_);
        info.lpVerb = MAKEINTRESOURCEA(command - kFirstShellCommand);
        info.lpVerbW = MAKEINTRESOURCEW(command - kFirstShellCommand);
        info.nShow = SW_SHOWNORMAL;
        return SUCCEEDED(handler_->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)));
    }

  private:
    static constexpr UINT_PTR kSubclassId = 0x5348;

    static bool Append(HMENU menu, const MenuItem& item) {
        std::wstring text = win::ToWide(item.Caption);
        if (!item.ShortCut.empty()) {
            text += L'\t' + win::ToWide(item.ShortCut);
        }
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_FTYPE;
        info.fType = item.RadioItem ? MFT_RADIOCHECK : MFT_STRING;
        info.fState = (item.Enabled ? MFS_ENABLED : MFS_DISABLED) |
                      (item.Checked ? MFS_CHECKED : 0) | (item.Default ? MFS_DEFAULT : 0);
        info.wID = item.Command;
        info.dwTypeData = text.data();
        HMENU submenu = nullptr;
        if (!item.Items.empty()) {
            submenu = ::CreatePopupMenu();
            for (const MenuItem& child : item.Items) {
                if (child.Visible) {
                    Append(submenu, child);
                }
            }
            info.fMask |= MIIM_SUBMENU;
            info.hSubMenu = submenu;
        }
        // The menu owns the submenu from here on.
        if (!::InsertMenuItemW(menu, ::GetMenuItemCount(menu), TRUE, &info)) {
            if (submenu) {
                ::DestroyMenu(submenu);
            }
            return false;
        }
        return true;
    }

    static LRESULT CALLBACK ForwardMenuMessages(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR, DWORD_PTR data) {
        auto* self = reinterpret_cast<WinContextMenu*>(data);
        if ((message == WM_INITMENUPOPUP || message == WM_MEASUREITEM || message == WM_DRAWITEM) &&
            self->handler2_) {
            // The program's own submenus come after the shell's items and are left alone.
            const int shellItems = ::GetMenuItemCount(self->menu_.get()) - self->programCount_;
            const bool programSubmenu = message == WM_INITMENUPOPUP &&
                                        int(LOWORD(lParam)) >= shellItems &&
                                        HMENU(wParam) != self->menu_.get();
            if (!programSubmenu) {
                self->handler2_->HandleMenuMsg(message, wParam, lParam);
                message = WM_NULL;
            }
        }
        return ::DefSubclassProc(window, message, wParam, lParam);
    }

    ComPtr<IContextMenu> handler_;
    ComPtr<IContextMenu2> handler2_;
    OwnerRef owner_;
    bool interactive_;
    UniqueMenu menu_;
    int programCount_ = 0;
};

class WinShellFolder final : public ShellFolder {
  public:
    WinShellFolder(UniquePidl absolute, ComPtr<IShellFolder> folder, OwnerRef owner)
        : absolute_(std::move(absolute)), folder_(std::move(folder)), owner_(std::move(owner)) {
        path_ = IDListToPath(absolute_.get());
        if (!path_.empty() && path_.back() != '\\') {
            path_ += '\\';
        }
    }

    // Binds the folder of an absolute list; the empty list is the desktop itself.
    static std::shared_ptr<WinShellFolder> Bind(UniquePidl absolute, const OwnerRef& owner) {
        IShellFolder* desktop = Shell()->Desktop();
        ComPtr<IShellFolder> folder;
        if (HRESULT_CODE(desktop->CompareIDs(0, absolute.get(), EmptyIDList())) == 0) {
            desktop->AddRef();
            *folder.put() = desktop;
        } else if (FAILED(desktop->BindToObject(absolute.get(), nullptr, IID_IShellFolder,
                                                reinterpret_cast<void**>(folder.put())))) {
            return nullptr;
        }
        return std::make_shared<WinShellFolder>(std::move(absolute), std::move(folder), owner);
    }

    std::string Path() const override { return path_; }

    std::pair<std::shared_ptr<ShellFolder>, ShellObjectPtr> AsObjectInParent() const override {
        UniquePidl parent = CopyIDList(absolute_.get());
        const UINT items = IDListItemCount(parent.get());
        if (items == 0) {
            return {Bind(std::move(parent), owner_),
                    std::make_shared<PidlObject>(CopyIDList(EmptyIDList()))};
        }
        auto* last = reinterpret_cast<BYTE*>(parent.get());
        for (UINT i = 1; i < items; ++i) {
            USHORT cb;
            std::memcpy(&cb, last, sizeof(cb));
            last += cb;
        }
        UniquePidl self = CopyIDList(reinterpret_cast<ITEMIDLIST*>(last));
        // A zero count where the last item began ends the parent's list there.
        std::memset(last, 0, sizeof(USHORT));
        return {Bind(std::move(parent), owner_), std::make_shared<PidlObject>(std::move(self))};
    }

    ShellObjectPtr ParseName(const std::string& name) const override {
        UniquePidl list = ParseNameToIDList(folder_.get(), name);
        return list ? std::make_shared<PidlObject>(std::move(list)) : nullptr;
    }

    std::unique_ptr<ShellEnumeration> Enumerate(bool interactive) const override {
        class Walk final : public ShellEnumeration {
          public:
            explicit Walk(ComPtr<IEnumIDList> cursor) : cursor_(std::move(cursor)) {}
            ShellObjectPtr Next() override {
                ITEMIDLIST* item = nullptr;
                if (cursor_->Next(1, &item, nullptr) != S_OK) {
                    return nullptr;
                }
                return std::make_shared<PidlObject>(UniquePidl(item));
            }

          private:
            ComPtr<IEnumIDList> cursor_;
        };
        ComPtr<IEnumIDList> cursor;
        if (folder_->EnumObjects(InteractiveOwner(owner_, interactive),
                                 SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                                 cursor.put()) != S_OK ||
            !cursor) {
            return nullptr;
        }
        return std::make_unique<Walk>(std::move(cursor));
    }

    std::string ObjectName(const ShellObject& object) const override {
        WIN32_FIND_DATAW data{};
        if (SUCCEEDED(::SHGetDataFromIDListW(folder_.get(), PidlOf(object), SHGDFIL_FINDDATA, &data,
                                             sizeof(data))) &&
            data.cFileName[0] != 0) {
            return win::ToUtf8(data.cFileName);
        }
        const UniquePidl absolute = ConcatIDLists(absolute_.get(), PidlOf(object));
        if (IDListItemCount(absolute.get()) < 2) {
            return {};
        }
        const std::string path = IDListToPath(absolute.get());
        if (IsDriveRoot(path)) {
            return path;
        }
        const std::size_t cut = path.find_last_of("\\:");
        std::string last = cut == std::string::npos ? path : path.substr(cut + 1);
        return last.empty() ? NetworkName(object) : last;
    }

    std::string DisplayName(const ShellObject& object) const override {
        STRRET name{};
        if (FAILED(folder_->GetDisplayNameOf(PidlOf(object), SHGDN_NORMAL, &name))) {
            return {};
        }
        return StrRetToString(name, PidlOf(object));
    }

    std::optional<std::uint32_t> Attributes(const ShellObject& object,
                                            std::uint32_t mask) const override {
        LPCITEMIDLIST list = PidlOf(object);
        ULONG attributes = mask;
        if (FAILED(folder_->GetAttributesOf(1, &list, &attributes))) {
            return std::nullopt;
        }
        return attributes;
    }

    TQelShellFolder SpecialFolder(const ShellObject* object) const override {
        if (!object) {
            return SpecialFolderOf(absolute_.get());
        }
        const UniquePidl absolute = ConcatIDLists(absolute_.get(), PidlOf(*object));
        return SpecialFolderOf(absolute.get());
    }

    std::unique_ptr<ShellContextMenu> ContextMenu(const std::vector<ShellObjectPtr>& objects,
                                                  bool interactive) override {
        std::vector<LPCITEMIDLIST> lists;
        lists.reserve(objects.size());
        for (const ShellObjectPtr& object : objects) {
            lists.push_back(PidlOf(*object));
        }
        ComPtr<IContextMenu> handler;
        if (FAILED(folder_->GetUIObjectOf(InteractiveOwner(owner_, interactive), UINT(lists.size()),
                                          lists.data(), IID_IContextMenu, nullptr,
                                          reinterpret_cast<void**>(handler.put()))) ||
            !handler) {
            return nullptr;
        }
        return std::make_unique<WinContextMenu>(std::move(handler), owner_, interactive);
    }

  private:
    // The remote name of a domain or server object; empty for any other.
    std::string NetworkName(const ShellObject& object) const {
        std::vector<BYTE> buffer(1024);
        if (FAILED(::SHGetDataFromIDListW(folder_.get(), PidlOf(object), SHGDFIL_NETRESOURCE,
                                          buffer.data(), int(buffer.size())))) {
            return {};
        }
        const auto* resource = reinterpret_cast<const NETRESOURCEW*>(buffer.data());
        if ((resource->dwDisplayType == RESOURCEDISPLAYTYPE_DOMAIN ||
             resource->dwDisplayType == RESOURCEDISPLAYTYPE_SERVER) &&
            resource->lpRemoteName) {
            return win::ToUtf8(resource->lpRemoteName);
        }
        return {};
    }

    UniquePidl absolute_;
    ComPtr<IShellFolder> folder_;
    OwnerRef owner_;
    std::string path_;
};

}  // namespace

WinShellSpace::WinShellSpace(HWND owner) : owner_(std::make_shared<HWND>(owner)) {}

FolderBinding WinShellSpace::BindFolder(const std::string& path, bool interactive) {
    if (!Shell() || !Shell()->Ready()) {
        return {};
    }
    UniquePidl list;
    if (path.empty()) {
        ITEMIDLIST* drives = nullptr;
        if (SUCCEEDED(::SHGetSpecialFolderLocation(InteractiveOwner(owner_, interactive),
                                                   CSIDL_DRIVES, &drives))) {
            list.reset(drives);
        }
    } else {
        list = ParseNameToIDList(nullptr, path);
    }
    if (!list) {
        return {};
    }
    return {true, WinShellFolder::Bind(std::move(list), owner_)};
}

bool WinShellSpace::ObjectExists(const std::string& path) const {
    return win32::ObjectExists(path);
}

bool WinShellSpace::SamePath(const std::string& a, const std::string& b) const {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::pair<std::string, std::string> WinShellSpace::SplitPath(const std::string& path) const {
    const std::size_t cut = path.find_last_of("\\:");
    if (cut == std::string::npos) {
        return {{}, path};
    }
    return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

bool WinShellSpace::IsRootPath(const std::string& path) const {
    return path.size() < 4 && HasSeparator(path);
}

bool WinShellSpace::HasSeparator(const std::string& name) const {
    return name.find('\\') != std::string::npos;
}

}  // namespace packmeter::win32
