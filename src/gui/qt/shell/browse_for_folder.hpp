#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>

#include "core/shell/browse_options.hpp"

class QWidget;

namespace packmeter::qt {

// A modal folder chooser: the title above the folders, rooted at a special folder or at a
// folder given by path, handing back the chosen folder's path.
class TQelBrowseForFolder : public QObject {
    Q_OBJECT

  public:
    explicit TQelBrowseForFolder(QWidget* owner);

    QString Title() const { return title_; }
    void SetTitle(const QString& title) { title_ = title; }
    TQelBrowseFlags Options() const { return options_; }
    void SetOptions(TQelBrowseFlags options) { options_ = options; }
    QString RootedAtFileSystemFolder() const { return rootFolder_; }
    // Also roots the chooser at SF_FILESYSTEMFOLDER, which stands for that folder.
    void SetRootedAtFileSystemFolder(const QString& folder);
    TQelShellFolder RootedAt() const { return rootedAt_; }
    void SetRootedAt(TQelShellFolder folder) { rootedAt_ = folder; }

    // The folder the next run opens at, inside the root (the folder shown, for example); empty
    // or missing: the root itself.
    void SetStartFolder(const QString& folder) { startFolder_ = folder; }

    // Shows the chooser; true when the user confirmed a folder.
    bool Execute();
    // The folder confirmed in the last run, without a trailing separator (except "/"); empty
    // after a cancel.
    const std::string& SelectedFolder() const { return selected_; }

    // Before the chooser shows and after it closed.
    std::function<void()> onShow;
    std::function<void()> onClose;

    // The folder the chooser starts at: the given folder when it exists, else the special one.
    QString RootPath() const;
    // Where a special folder lies on this desktop; empty when it has no folder here.
    static QString SpecialFolderPath(TQelShellFolder folder);

  private:
    QPointer<QWidget> owner_;
    QString title_;
    TQelBrowseFlags options_{bfNewDialogStyle};
    QString rootFolder_;
    QString startFolder_;
    TQelShellFolder rootedAt_ = SF_DESKTOP;
    std::string selected_;
};

}  // namespace packmeter::qt
