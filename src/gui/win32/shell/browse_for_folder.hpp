#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "core/shell/browse_options.hpp"

namespace packmeter::win32 {

// The shell's folder browser, run modally over the main window.
class TQelBrowseForFolder {
  public:
    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    TQelBrowseFlags Options() const { return options_; }
    void SetOptions(TQelBrowseFlags options) { options_ = options; }
    const std::string& RootedAtFileSystemFolder() const { return rootPath_; }
    // Also makes the root SF_FILESYSTEMFOLDER.
    void SetRootedAtFileSystemFolder(std::string path);
    TQelShellFolder RootedAt() const { return rootedAt_; }
    void SetRootedAt(TQelShellFolder folder) { rootedAt_ = folder; }
    // The folder selected when the dialog opens (the folder shown); empty: the root.
    const std::string& StartFolder() const { return startFolder_; }
    void SetStartFolder(std::string path) { startFolder_ = std::move(path); }
    // The path of the folder confirmed in the last run; empty after a cancel.
    const std::string& SelectedFolder() const { return selected_; }

    // Before the dialog is shown and after it has closed.
    std::function<void()> onShow;
    std::function<void()> onClose;

    // True when the user confirmed a choice.
    bool Execute();

  private:
    static int CALLBACK Callback(HWND dialog, UINT message, LPARAM lParam, LPARAM data);
    static void CALLBACK Reselect(HWND dialog, UINT message, UINT_PTR id, DWORD time);

    std::string title_;
    TQelBrowseFlags options_{bfNewDialogStyle};
    std::string rootPath_;
    TQelShellFolder rootedAt_ = SF_DESKTOP;
    std::string selected_;
    std::string startFolder_;
    std::wstring startWide_;
    // The folder the dialog's tree has selected, as it last said.
    std::wstring selectedWide_;
    int reselects_ = 0;
};

}  // namespace packmeter::win32
