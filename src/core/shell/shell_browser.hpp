#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/shell/dir_mon.hpp"
#include "core/shell/shell_space.hpp"

namespace packmeter {

class EShellBrowserError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kCannotFindFolder = "Cannot Find Folder: ";
inline constexpr const char* kCouldNotGetFolder =
    "ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder";

// Binds itself to one folder of the shell's namespace, keeps a current object in it (or a list
// of object names) and shows the shell's context menu for them with the program's items merged
// in. Everything runs on the window's thread.
class TShellBrowser {
  public:
    using Notify = std::function<void(TShellBrowser& sender)>;
    using TOnContextMenuSelectEvent =
        std::function<void(const std::string& command, bool& execute)>;

    // `watcher` and `post` serve the directory monitor that OnFileChange starts; without a
    // watcher no monitor is started. A new browser sits in the computer's folder.
    explicit TShellBrowser(std::shared_ptr<ShellSpace> shell,
                           std::shared_ptr<ChangeWatcher> watcher = nullptr,
                           PostToOwner post = nullptr);
    ~TShellBrowser();
    TShellBrowser(const TShellBrowser&) = delete;
    TShellBrowser& operator=(const TShellBrowser&) = delete;

    // The folder's path ending in a separator; empty for a folder without a file-system path.
    const std::string& Folder() const { return folder_; }
    // The same path in any letter case keeps the binding; a path that names no folder throws
    // EShellBrowserError(kCannotFindFolder + path) and keeps the binding.
    void SetFolder(const std::string& path);

    // Names (relative to Folder) of the objects for the next context menu; ShowContextMenu
    // empties it whatever happens.
    std::vector<std::string>& MultiObjects() { return multiObjects_; }
    const std::vector<std::string>& MultiObjects() const { return multiObjects_; }

    // The current folder itself becomes the current object; the browser moves to its parent.
    void SelectFolderAsObject();

    bool HasObject() const { return object_ != nullptr; }
    std::string ObjectName() const;
    // Empty: no current object. A name is looked up in the folder (parsed, else searched by
    // display and file name ignoring case; EShellBrowserError when not found); a path moves
    // the browser to its directory first, a root path makes the root the object.
    void SetObjectName(const std::string& name);
    std::string DisplayName() const;
    bool IsFolder() const;
    std::uint32_t ObjectAttributes(std::uint32_t mask) const;

    // Advances a walk of the folder to the next object passing FileSystemOnly and Filter and
    // makes it the current object; false at the end.
    bool NextObject();
    bool FileSystemOnly() const { return fileSystemOnly_; }
    void SetFileSystemOnly(bool value) { fileSystemOnly_ = value; }

    // Semicolon-separated wildcard patterns; folders always pass.
    std::string Filter() const;
    void SetFilter(const std::string& filter);
    const std::vector<std::string>& FilterPatterns() const { return patterns_; }
    // '*' any run, '?' any one character, letters a-z compared ignoring case.
    static bool WildcardMatch(std::string_view name, std::string_view pattern);

    // Whether the shell may show its own dialogs, owned by the program's window.
    bool ShowErrorMessages() const { return showErrorMessages_; }
    void SetShowErrorMessages(bool value) { showErrorMessages_ = value; }

    static std::string Version() { return "TShellBrowser V3.03"; }

    // Shows the shell's context menu for MultiObjects (or the current object) at `point` with
    // copies of `menu`'s items (two levels) after the shell's commands. A chosen program item
    // runs its OnClick with its copy; a chosen shell command goes through OnContextMenuSelect,
    // OnRename for "rename", else the shell. `verb` gets the shell command carried out, or
    // empty; a reported "delete" means the first object is gone.
    void ShowContextMenu(ScreenPoint point, PopupMenu* menu, std::string& verb);

    Notify OnRename;
    TOnContextMenuSelectEvent OnContextMenuSelect;
    const Notify& OnFileChange() const { return onFileChange_; }
    // A handler starts a directory monitor on Folder (file and folder names); an empty one
    // stops it.
    void SetOnFileChange(Notify handler);
    // The monitor OnFileChange runs on; null while none.
    TDirMon* DirMon() const { return dirMon_.get(); }

  private:
    void Bind(std::shared_ptr<ShellFolder> folder);
    void SetObject(ShellObjectPtr object);
    bool PassesFilter() const;
    bool PassesFileSystemOnly() const;

    std::shared_ptr<ShellSpace> shell_;
    std::shared_ptr<ChangeWatcher> watcher_;
    PostToOwner post_;
    std::string folder_;
    std::shared_ptr<ShellFolder> folderObject_;
    ShellObjectPtr object_;
    std::unique_ptr<ShellEnumeration> cursor_;
    bool fileSystemOnly_ = false;
    std::vector<std::string> multiObjects_;
    std::vector<std::string> patterns_{"*"};
    bool showErrorMessages_ = false;
    Notify onFileChange_;
    std::unique_ptr<TDirMon> dirMon_;
};

}  // namespace packmeter
