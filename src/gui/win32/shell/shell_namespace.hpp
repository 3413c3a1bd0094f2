#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>

#include <string>

#include "core/shell/browse_options.hpp"
#include "gui/win32/framework/win_owned.hpp"

namespace packmeter::win32 {

// The process-wide shell environment: OLE, the shell's allocator and the desktop folder. One
// object lives from start-up until the windows are gone.
class ShellEnvironment {
  public:
    ShellEnvironment();
    ~ShellEnvironment();
    ShellEnvironment(const ShellEnvironment&) = delete;
    ShellEnvironment& operator=(const ShellEnvironment&) = delete;

    // False when the shell could not be reached: the program shows "Cannot find Shell!" and ends.
    bool Ready() const { return allocator_ && desktop_; }
    IMalloc* Allocator() const { return allocator_.get(); }
    IShellFolder* Desktop() const { return desktop_.get(); }

  private:
    bool oleInitialized_ = false;
    ComPtr<IMalloc> allocator_;
    ComPtr<IShellFolder> desktop_;
};

// The environment set up by the running program, or nullptr.
ShellEnvironment* Shell();

inline constexpr const char* kCannotFindShell = "Cannot find Shell!";

// The empty item-id list: the desktop.
const ITEMIDLIST* EmptyIDList();

UINT IDListSize(const ITEMIDLIST* list);
UINT IDListItemCount(const ITEMIDLIST* list);
UniquePidl CopyIDList(const ITEMIDLIST* list);
UniquePidl ConcatIDLists(const ITEMIDLIST* first, const ITEMIDLIST* second);

// The CSIDL number of a special folder.
int SpecialFolderCsidl(TQelShellFolder folder);
UniquePidl SpecialFolderIDList(TQelShellFolder folder);
// The first special folder whose list equals `list`; SF_FILESYSTEMFOLDER when none does.
TQelShellFolder SpecialFolderOf(const ITEMIDLIST* list);

// The name parsed by `folder` (the desktop when null, giving an absolute list). Any length.
UniquePidl ParseNameToIDList(IShellFolder* folder, const std::string& name);
// The file-system path of an absolute list; empty when it has none.
std::string IDListToPath(const ITEMIDLIST* list);
// True for an existing file or folder, and for a drive such as C: or C:\.
bool ObjectExists(const std::string& path);
// The text of a STRRET in UTF-8; a wide text is freed to the allocator.
std::string StrRetToString(STRRET& value, const ITEMIDLIST* relative);

// The window that owns the program's dialogs: the main window once there is one.
void SetMainWindow(HWND window);
HWND DialogOwnerWindow();

}  // namespace packmeter::win32
