#include "gui/qt/shell/desktop_context_menu.hpp"

#include "gui/qt/framework/desktop_services.hpp"

#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <algorithm>

#include "gui/qt/framework/desktop_services.hpp"
#include "gui/qt/shell/desktop_actions.hpp"
#include "platform/linux/shell/desktop_apps.hpp"
#include "platform/linux/shell/linux_shell_space.hpp"

namespace packmeter::qt {

namespace {

QString Local(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())));
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QIcon AppIcon(const std::string& icon) {
    const QString name = Utf8(icon);
    if (name.startsWith('/')) {
        return QIcon(name);
    }
    return QIcon::fromTheme(name);
}

}  // namespace

DesktopContextMenu::DesktopContextMenu(QWidget* owner, std::shared_ptr<FileSystem> fs,
                                       std::vector<std::string> paths, bool interactive)
    : owner_(owner), fs_(std::move(fs)), paths_(std::move(paths)), interactive_(interactive) {
    for (const auto& path : paths_) {
        shownPaths_ << Local(path);
    }
}

DesktopContextMenu::~DesktopContextMenu() = default;

unsigned DesktopContextMenu::AddCommand(QMenu* menu, const QString& caption, const QIcon& icon,
                                        Command command) {
    const unsigned id = kFirstShellCommand + unsigned(commands_.size());
    QAction* action = menu->addAction(icon, caption);
    action->setData(id);
    commands_[id] = std::move(command);
    return id;
}

void DesktopContextMenu::AddProgramItem(QMenu* menu, const MenuItem& item) {
    if (!item.Visible) {
        return;
    }
    const QString caption = Utf8(item.Caption);
    if (caption == "-") {
        menu->addSeparator();
        return;
    }
    if (!item.Items.empty()) {
        QMenu* sub = menu->addMenu(caption);
        sub->setEnabled(item.Enabled);
        for (const auto& child : item.Items) {
            AddProgramItem(sub, child);
        }
        return;
    }
    QAction* action = menu->addAction(caption);
    action->setData(item.Command);
    action->setObjectName(Utf8(item.Name));
    action->setEnabled(item.Enabled);
    action->setCheckable(item.Checked || item.RadioItem);
    action->setChecked(item.Checked);
    if (!item.ShortCut.empty()) {
        action->setShortcut(QKeySequence(Utf8(item.ShortCut)));
    }
    if (item.Default) {
        QFont bold = action->font();
        bold.setBold(true);
        action->setFont(bold);
    }
}

bool DesktopContextMenu::Build(const std::vector<MenuItem>& programItems, bool) {
    if (paths_.empty()) {
        return false;
    }
    commands_.clear();
    menu_ = std::make_unique<QMenu>(owner_);
    menu_->setObjectName("shellContextMenu");

    // Open: each entry with its type's default application; Open With: the applications that
    // open all of them, the default first.
    const auto applications = linuxfs::ApplicationsFor(paths_);
    const auto fallback =
        std::find_if(applications.begin(), applications.end(),
                     [](const linuxfs::DesktopApp& app) { return app.isDefault; });
    const QString open = fallback == applications.end()
                             ? QObject::tr("&Open")
                             : QObject::tr("&Open With %1").arg(Utf8(fallback->name));
    AddCommand(menu_.get(), open, QIcon::fromTheme("document-open"), {kVerbOpen, {}});
    if (!applications.empty()) {
        QMenu* with = menu_->addMenu(QObject::tr("Open &With"));
        with->setObjectName("openWithMenu");
        for (const auto& app : applications) {
            AddCommand(with, Utf8(app.name), AppIcon(app.icon), {kVerbOpenWith, app.id});
        }
    }
    AddCommand(menu_.get(), QObject::tr("Open Containing &Folder"), QIcon::fromTheme("folder-open"),
               {kVerbShowInFolder, {}});
    menu_->addSeparator();
    AddCommand(menu_.get(), QObject::tr("&Copy"), QIcon::fromTheme("edit-copy"), {kVerbCopy, {}});
    AddCommand(menu_.get(), QObject::tr("Copy &Path"), QIcon::fromTheme("edit-copy"),
               {kVerbCopyPath, {}});
    menu_->addSeparator();
    // No key hints beside the commands: the window's own keys differ (Ctrl+C copies the rows
    // as text). Like file managers, one entry at a time is renamed; the root has no name to change.
    const unsigned rename = AddCommand(menu_.get(), QObject::tr("Rena&me..."),
                                       QIcon::fromTheme("edit-rename"), {kVerbRename, {}});
    const unsigned trash = AddCommand(menu_.get(), QObject::tr("Move to &Trash"),
                                      QIcon::fromTheme("user-trash"), {kVerbDelete, {}});
    const bool root = paths_.front() == "/";
    for (QAction* action : menu_->actions()) {
        const unsigned id = action->data().toUInt();
        if (id == rename) {
            action->setEnabled(paths_.size() == 1 && !root);
        } else if (id == trash) {
            action->setEnabled(!root);
        }
    }
    menu_->addSeparator();
    AddCommand(menu_.get(), QObject::tr("P&roperties"), QIcon::fromTheme("document-properties"),
               {kVerbProperties, {}});

    const bool anyProgramItem = std::any_of(programItems.begin(), programItems.end(),
                                            [](const MenuItem& item) { return item.Visible; });
    if (anyProgramItem) {
        menu_->addSeparator();
    }
    for (const auto& item : programItems) {
        AddProgramItem(menu_.get(), item);
    }
    return true;
}

unsigned DesktopContextMenu::Track(ScreenPoint point) {
    if (!menu_) {
        return 0;
    }
    const QAction* chosen = menu_->exec(QPoint(point.x, point.y));
    return chosen ? chosen->data().toUInt() : 0;
}

std::string DesktopContextMenu::Verb(unsigned command) {
    const auto found = commands_.find(command);
    return found == commands_.end() ? std::string() : found->second.verb;
}

void DesktopContextMenu::Warn(const QString& text) const {
    if (interactive_ && owner_) {
        QMessageBox::warning(owner_, owner_->window()->windowTitle(), text);
    }
}

bool DesktopContextMenu::Launch(const std::string& application,
                                const std::vector<std::string>& paths) {
    std::string error;
    if (linuxfs::LaunchApplication(application, paths, error)) {
        return true;
    }
    Warn(QObject::tr("Cannot start the application: %1").arg(Utf8(error)));
    return false;
}

bool DesktopContextMenu::Open() {
    // Entries of different types may have different default applications.
    std::map<std::string, std::vector<std::string>> byApplication;
    bool opened = true;
    for (const auto& path : paths_) {
        const auto applications = linuxfs::ApplicationsFor({path});
        if (!applications.empty() && applications.front().isDefault) {
            byApplication[applications.front().id].push_back(path);
        } else {
            // Told later, when the desktop's opener has ended without opening it.
            OpenWithDesktop(
                Local(path), [owner = QPointer<QWidget>(owner_), interactive = interactive_,
                              shown = Local(path)](const std::string& reason) {
                    if (interactive && owner) {
                        QMessageBox::warning(owner, owner->window()->windowTitle(),
                                             QObject::tr("Cannot open \"%1\": %2")
                                                 .arg(shown, QString::fromStdString(reason)));
                    }
                });
        }
    }
    for (const auto& [application, paths] : byApplication) {
        opened = Launch(application, paths) && opened;
    }
    return opened;
}

bool DesktopContextMenu::Invoke(unsigned command) {
    const auto found = commands_.find(command);
    if (found == commands_.end()) {
        return false;
    }
    const std::string& verb = found->second.verb;
    if (verb == kVerbOpen) {
        return Open();
    }
    if (verb == kVerbOpenWith) {
        return Launch(found->second.application, paths_);
    }
    if (verb == kVerbShowInFolder) {
        ShowInFileManager(
            shownPaths_, [owner = QPointer<QWidget>(owner_), interactive = interactive_](
                             const QString& folder, const std::string& reason) {
                if (interactive && owner) {
                    QMessageBox::warning(owner, owner->window()->windowTitle(),
                                         QObject::tr("Cannot show \"%1\": %2")
                                             .arg(folder, QString::fromStdString(reason)));
                }
            });
        return true;
    }
    if (verb == kVerbCopy) {
        CopyFilesToClipboard(shownPaths_);
        return true;
    }
    if (verb == kVerbCopyPath) {
        CopyPathsToClipboard(shownPaths_);
        return true;
    }
    if (verb == kVerbRename) {
        const auto name = AskNewName(owner_, shownPaths_.front());
        if (!name) {
            return false;
        }
        QString error;
        if (!RenameEntry(shownPaths_.front(), *name, error)) {
            Warn(QObject::tr("Cannot rename \"%1\": %2")
                     .arg(QFileInfo(shownPaths_.front()).fileName(), error));
            return false;
        }
        return true;
    }
    if (verb == kVerbDelete) {
        bool moved = true;
        for (const auto& path : shownPaths_) {
            QString error;
            if (!MoveEntryToTrash(path, error)) {
                Warn(QObject::tr("Cannot move \"%1\" to the trash: %2").arg(path, error));
                moved = false;
                break;
            }
        }
        return moved;
    }
    if (verb == kVerbProperties) {
        ShowProperties(owner_, fs_, shownPaths_);
        return true;
    }
    return false;
}

std::shared_ptr<ShellSpace> MakeDesktopShell(QWidget* owner, std::shared_ptr<FileSystem> fs) {
    QPointer<QWidget> window(owner);
    return linuxfs::MakeLinuxShellSpace(
        [window, fs](std::vector<std::string> paths,
                     bool interactive) -> std::unique_ptr<ShellContextMenu> {
            return std::make_unique<DesktopContextMenu>(window, fs, std::move(paths), interactive);
        });
}

}  // namespace packmeter::qt
