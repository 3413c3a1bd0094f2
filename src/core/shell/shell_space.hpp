#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/shell/browse_options.hpp"

namespace packmeter {

// A point on the screen, in pixels from the top-left corner of the primary screen.
struct ScreenPoint {
    int x = 0;
    int y = 0;
};

// One item of the program's own popup menu, described without any toolkit so that both the
// Windows shell menu and the desktop menu on Linux can show it. Items one level below a
// top-level item are shown as its submenu; deeper levels are not shown.
struct MenuItem {
    std::string Caption{};  // with '&' before the access key
    std::string Name{};
    int Tag = 0;
    bool Visible = true;
    bool Enabled = true;
    bool Checked = false;
    bool RadioItem = false;
    bool Default = false;
    std::string ShortCut{};  // the key text shown beside the caption, e.g. "Ctrl+Q"; may be empty
    // Runs when the item is chosen, with the item as the menu showed it (same tag and name).
    std::function<void(const MenuItem& sender)> OnClick{};
    std::vector<MenuItem> Items{};
    // The command identifier the merged menu gives the item; 0 outside a merged menu.
    unsigned Command = 0;
};

// The program's popup menu handed to a shell context menu.
struct PopupMenu {
    std::vector<MenuItem> Items{};
    // Runs just before the menu appears.
    std::function<void(PopupMenu& sender)> OnPopup{};
};

// Attribute bits of shell objects (the Windows shell's values).
inline constexpr std::uint32_t kShellAttrFolder = 0x20000000;
inline constexpr std::uint32_t kShellAttrFileSystem = 0x40000000;
inline constexpr std::uint32_t kShellAttrFileSysAncestor = 0x10000000;

// The shell's own commands occupy these identifiers in a merged menu; the program's items get
// identifiers above them.
inline constexpr unsigned kFirstShellCommand = 1;
inline constexpr unsigned kLastShellCommand = 0x7FFF;

// One object inside a shell folder, as that folder identifies it (an item id on Windows, a
// name on Linux). Immutable and shared; a folder reads only objects that it or its space made.
class ShellObject {
  public:
    virtual ~ShellObject() = default;
};
using ShellObjectPtr = std::shared_ptr<const ShellObject>;

// A walk over the objects of a folder.
class ShellEnumeration {
  public:
    virtual ~ShellEnumeration() = default;
    // The next object; null at the end or on failure.
    virtual ShellObjectPtr Next() = 0;
};

// The shell's context menu for some objects of one folder, alive while the menu is used.
class ShellContextMenu {
  public:
    virtual ~ShellContextMenu() = default;
    // Builds the menu: the shell's commands first, with identifiers in kFirstShellCommand to
    // kLastShellCommand, then the visible program items (and their visible children) under
    // their Command identifiers. `canRename`: the caller handles "rename" itself. False when
    // the shell cannot make the menu.
    virtual bool Build(const std::vector<MenuItem>& programItems, bool canRename) = 0;
    // Shows the built menu at `point` until the user chooses or dismisses it; the chosen
    // identifier, 0 when dismissed.
    virtual unsigned Track(ScreenPoint point) = 0;
    // The language-independent verb of a shell command ("open", "delete", "rename" ...); empty
    // when the shell names none.
    virtual std::string Verb(unsigned command) = 0;
    // Carries out a shell command; false when it failed or the user cancelled it.
    virtual bool Invoke(unsigned command) = 0;
};

// A folder of the shell's namespace. `interactive` on the calls below: the shell may show its
// own dialogs and messages (owned by the program's window); without it, it must not.
class ShellFolder {
  public:
    virtual ~ShellFolder() = default;
    // The folder's file-system path ending in a separator; empty when it has none (the
    // computer, the network).
    virtual std::string Path() const = 0;
    // The parent folder and this folder as an object inside it. The root of the namespace
    // gives itself and an object that stands for itself.
    virtual std::pair<std::shared_ptr<ShellFolder>, ShellObjectPtr> AsObjectInParent() const = 0;
    // The object the shell parses `name` to, relative to this folder; null when none.
    virtual ShellObjectPtr ParseName(const std::string& name) const = 0;
    // Every object of the folder, hidden ones included; null when it cannot be walked.
    virtual std::unique_ptr<ShellEnumeration> Enumerate(bool interactive) const = 0;
    // The object's file name (a drive root's whole path); empty when it has none.
    virtual std::string ObjectName(const ShellObject& object) const = 0;
    // The name the shell shows for the object; may be empty.
    virtual std::string DisplayName(const ShellObject& object) const = 0;
    // The object's attribute bits among `mask`; nullopt when they cannot be read.
    virtual std::optional<std::uint32_t> Attributes(const ShellObject& object,
                                                    std::uint32_t mask) const = 0;
    // Which special folder the object is (the folder itself when `object` is null).
    virtual TQelShellFolder SpecialFolder(const ShellObject* object) const = 0;
    // The context menu for `objects` (at least one); null when the shell offers none.
    virtual std::unique_ptr<ShellContextMenu> ContextMenu(
        const std::vector<ShellObjectPtr>& objects, bool interactive) = 0;
};

// What binding a folder path gave: not found, found but not bindable, or the folder.
struct FolderBinding {
    bool found = false;
    std::shared_ptr<ShellFolder> folder;
};

// The shell's namespace and its path rules.
class ShellSpace {
  public:
    virtual ~ShellSpace() = default;
    // The folder at `path`; the empty path is the computer (the folder of the drives).
    virtual FolderBinding BindFolder(const std::string& path, bool interactive) = 0;
    // True for an existing file or folder, and for a drive or the root.
    virtual bool ObjectExists(const std::string& path) const = 0;
    // Whether two folder paths name the same folder as the file system compares names.
    virtual bool SamePath(const std::string& a, const std::string& b) const = 0;
    // The path's directory part (up to and including its last separator) and its last
    // component.
    virtual std::pair<std::string, std::string> SplitPath(const std::string& path) const = 0;
    // True for a path that names a root (a drive such as C:\, or /).
    virtual bool IsRootPath(const std::string& path) const = 0;
    // True when `name` holds a path separator.
    virtual bool HasSeparator(const std::string& name) const = 0;
};

}  // namespace packmeter
