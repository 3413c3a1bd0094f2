#pragma once

// The context menu a GNOME or KDE user knows for files and folders, with the program's items
// after the desktop's: Open with the default application, Open With (the applications the
// desktop registers for the type), Open Containing Folder, Copy, Copy Path, Rename, Move to
// Trash and Properties. Each desktop command has a language-independent verb.

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/shell/shell_space.hpp"

class QIcon;
class QMenu;

namespace packmeter::qt {

inline constexpr const char* kVerbOpen = "open";
inline constexpr const char* kVerbOpenWith = "openwith";
inline constexpr const char* kVerbShowInFolder = "showinfolder";
inline constexpr const char* kVerbCopy = "copy";
inline constexpr const char* kVerbCopyPath = "copypath";
inline constexpr const char* kVerbRename = "rename";
inline constexpr const char* kVerbDelete = "delete";
inline constexpr const char* kVerbProperties = "properties";

class DesktopContextMenu final : public ShellContextMenu {
  public:
    // `paths`: the whole paths of the entries. `owner`: the window that owns the menu and the
    // dialogs; `interactive` false keeps failures silent.
    DesktopContextMenu(QWidget* owner, std::shared_ptr<FileSystem> fs,
                       std::vector<std::string> paths, bool interactive);
    ~DesktopContextMenu() override;

    bool Build(const std::vector<MenuItem>& programItems, bool canRename) override;
    unsigned Track(ScreenPoint point) override;
    std::string Verb(unsigned command) override;
    bool Invoke(unsigned command) override;

    // The built menu; null before Build.
    QMenu* Menu() const { return menu_.get(); }

  private:
    struct Command {
        std::string verb;
        std::string application;  // the desktop entry of an Open With item
    };
    unsigned AddCommand(QMenu* menu, const QString& caption, const QIcon& icon, Command command);
    void AddProgramItem(QMenu* menu, const MenuItem& item);
    bool Open();
    bool Launch(const std::string& application, const std::vector<std::string>& paths);
    void Warn(const QString& text) const;

    QPointer<QWidget> owner_;
    std::shared_ptr<FileSystem> fs_;
    std::vector<std::string> paths_;
    QStringList shownPaths_;
    bool interactive_;
    std::unique_ptr<QMenu> menu_;
    std::map<unsigned, Command> commands_;
};

// The shell namespace of this desktop, with menus owned by `owner`.
std::shared_ptr<ShellSpace> MakeDesktopShell(QWidget* owner, std::shared_ptr<FileSystem> fs);

}  // namespace packmeter::qt
