#pragma once

#include <functional>
#include <string>

// The desktop's own file commands for the shell context menu on Linux: the file manager's
// D-Bus service, the clipboard in the formats file managers paste, the freedesktop trash,
// renaming, and the Properties dialog.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "core/fs/filesystem.hpp"

class QFormLayout;
class QLabel;

namespace packmeter::qt {

// The desktop's file manager as it offers itself on the session bus
// (org.freedesktop.FileManager1): running, or started by the bus on the first call.
class FileManagerService {
  public:
    static bool Available();
    // Opens the folders holding `paths` with the entries selected.
    static bool ShowItems(const QStringList& paths);
    // The file manager's own Properties window for `paths`.
    static bool ShowItemProperties(const QStringList& paths);
};

// Copy: the entries as files (text/uri-list, which every file manager pastes, GNOME's own list
// with the "copy" action, and the paths as plain text, one a line).
void CopyFilesToClipboard(const QStringList& paths);
// Copy Path: the paths as plain text, one a line.
void CopyPathsToClipboard(const QStringList& paths);

// The user's home trash: $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash; empty when the
// home folder is not known.
QString HomeTrashFolder();
// Moves the entry to the freedesktop trash, making the home trash first where it is missing;
// false with the reason in `error`. Nothing is ever written outside a trash.
bool MoveEntryToTrash(const QString& path, QString& error);

// Renames `path` to `newName` in the same folder, never over an existing entry; false with the
// reason in `error`.
bool RenameEntry(const QString& path, const QString& newName, QString& error);

// Asks for a new name for the entry `path` in a small dialog, with its base name selected as
// file managers do; nothing when cancelled or unchanged.
std::optional<QString> AskNewName(QWidget* parent, const QString& path);

// Our own Properties window, for desktops without a file manager service: name, kind, place,
// size, on-disk size, compression, file system, owner, permissions and times. A folder's sizes
// are measured in the background; closing the window stops that.
class PropertiesDialog final : public QDialog {
    Q_OBJECT

  public:
    PropertiesDialog(std::shared_ptr<FileSystem> fs, const QStringList& paths,
                     QWidget* parent = nullptr);
    ~PropertiesDialog() override;

    // The shown value of the line named `label` ("Size:", "Owner:" ...), for tests.
    QString Value(const QString& label) const;
    // True once every measurement has arrived.
    bool Complete() const { return complete_; }

  private:
    void SetValue(const QString& label, const QString& value);

    QFormLayout* form_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread measure_;
    bool complete_ = false;
};

// Properties of `paths`: the file manager's window when the service is there, else ours.
void ShowProperties(QWidget* parent, std::shared_ptr<FileSystem> fs, const QStringList& paths);

// Shows the folders holding `paths` in the file manager with the entries selected; without the
// service, opens the first one's folder in the desktop's folder application.
// `onFailure` hears (later, on the UI thread) when the folder could not be shown.
void ShowInFileManager(
    const QStringList& paths,
    std::function<void(const QString& folder, const std::string& reason)> onFailure = nullptr);

}  // namespace packmeter::qt
