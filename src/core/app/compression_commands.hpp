#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/app/command_progress.hpp"
#include "core/fs/filesystem.hpp"
#include "core/listview/list_item.hpp"
#include "core/scan/entry_row.hpp"
#include "core/shell/shell_space.hpp"
#include "core/utils/compression.hpp"
#include "core/utils/size_text.hpp"

namespace packmeter {

class TShellBrowser;
class WorkerChannel;
class MainFormView;

// The two items of the window's popup menu, merged into the shell's context menu. The tag
// picks the direction: kDecompressTag decompresses, any other value compresses.
inline constexpr int kCompressTag = 1;
inline constexpr int kDecompressTag = -1;
inline constexpr const char* kCompressCaption = "&COMPRESS";
inline constexpr const char* kDecompressCaption = "&DECOMPRESS";

// What the window does for the compression commands, besides MainFormView. Every call comes on
// the UI thread.
class CommandView {
  public:
    virtual ~CommandView() = default;
    // The system's default beep (MessageBeep(0) on Windows).
    virtual void Beep() = 0;
    // The status line as it reads now, which "Finished" is appended to.
    virtual std::string StatusText() const = 0;
    // The row whose data is `name` (an entry of the folder shown) takes the texts of `item`'s
    // further columns, its keys (state, folder flag, sizes) and its hint; its caption, icon and
    // position stay, and the list is not re-sorted. Nothing happens when no row has that name.
    virtual void UpdateItem(const std::string& name, const ListItem& item) = 0;
    // Deselects every row.
    virtual void ClearSelection() = 0;
    // Shows the command's progress (a figure and a Cancel button); `progress.running` false:
    // hides them.
    virtual void SetCommandProgress(const CommandProgress& progress) = 0;
    // The entries inside trees that could not be switched, with their reasons, for a tool tip
    // or a details dialog on the status line; empty: none.
    virtual void SetCommandFailures(const std::vector<CompressionFailure>& failures) = 0;
    // Asks whether to stop the running command and close; true: yes.
    virtual bool AskStopCommand(const std::string& question) = 0;
};

// The compression commands of the main window: the context menu of the list and of the path
// label, and DecompressMenuItemClick, which switches the selected entries on a worker thread
// and updates their rows in place. Owned by MainFormLogic; its output reaches the UI thread
// through the scans' channel.
class CompressionCommands {
  public:
    CompressionCommands(MainFormView& view, std::shared_ptr<FileSystem> fs,
                        std::shared_ptr<WorkerChannel> channel, NumberFormat format = {});
    // Cancels a running command and waits for its current file.
    ~CompressionCommands();
    CompressionCommands(const CompressionCommands&) = delete;
    CompressionCommands& operator=(const CompressionCommands&) = delete;

    // The window's part of the view; until it is set, beeps and progress go nowhere.
    void SetView(CommandView* view);

    // The popup menu handed to the shell browser: "&COMPRESS" (tag 1) and "&DECOMPRESS"
    // (tag -1), each running DecompressMenuItemClick in the folder of the last popup.
    PopupMenu& Popup() { return popup_; }

    // A right-click on the list (or the context-menu key): sets the items' visibility from the
    // single selected row, hands the selected rows in list order (or, with none selected, the
    // shown folder itself) to `browser` and shows its menu at the screen point. Returns
    // whether the event was handled (always).
    // A shell command the menu carried out ("rename", "delete", ...), after it succeeded.
    std::function<void(const std::string& verb)> onShellVerb;
    bool ListContextPopup(TShellBrowser& browser, const std::string& folder, int screenX,
                          int screenY);
    // A mouse button released over the path label: deselects every row and shows the menu of
    // the shown folder itself.
    void PathLabelMouseUp(TShellBrowser& browser, const std::string& folder, int screenX,
                          int screenY);
    // Sets the two items' visibility from the selection, as a popup does before it shows.
    void UpdateMenuItems();

    // One of the two items was chosen: switches every selected row of `folder` (with trailing
    // separator), first to last; with no row selected (the menu was the shown folder's own),
    // the folder's whole tree (CompressFolderTree), updating every row. Refused with a message
    // while a command runs.
    void DecompressMenuItemClick(int tag, const std::string& folder);
    // Stops the command after the file being switched; rows already done keep their values.
    void Cancel();
    // Whether a command is running.
    bool Running() const;
    // A snapshot of the running (or last) command's progress.
    CommandProgress Progress() const;
    // The failures inside trees of the last command, and the text for a tool tip ("" without
    // any): one line per entry with its reason, at most `lines` lines.
    const std::vector<CompressionFailure>& Failures() const { return failures_; }
    std::string FailuresText(std::size_t lines = 20) const;
    // The window is about to close: true when it may. With a command running, asks the user;
    // on yes, cancels and waits for the current file to end.
    bool FormCloseQuery();

    // Whether the status line is the command's: while it runs and after it ended, until
    // ReleaseStatusLine (a new scan); the status timer leaves the line alone meanwhile.
    bool OwnsStatusLine() const { return running_ || statusKept_; }
    void ReleaseStatusLine() { statusKept_ = false; }

    // Applies what the worker handed over (called by MainFormLogic as the channel's events
    // arrive): status line, progress, updated rows, and the command's end.
    // `scanBusy`: a scan still runs, so the busy cursor stays once the command has ended.
    // True when the command ended with this call.
    bool ApplyOutput(const std::string& currentFolder, bool scanBusy = false);
    // The folder (with trailing separator) of the running or last command.
    const std::string& Folder() const { return folder_; }

  private:
    struct Shared;
    struct RowTarget {
        std::string name;  // raw bytes, for the file system
    };

    void Run(std::vector<RowTarget> targets, std::string folder, bool decompress, bool wholeFolder);
    void Join();

    MainFormView& view_;
    CommandView* commandView_ = nullptr;
    std::shared_ptr<FileSystem> fs_;
    std::shared_ptr<WorkerChannel> channel_;
    NumberFormat format_;
    PopupMenu popup_;
    // The folder of the last popup, which the menu's items switch entries in.
    std::string popupFolder_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::vector<CompressionFailure> failures_;
    std::int64_t treeFailures_ = 0;
    std::string folder_;
    bool running_ = false;
    bool statusKept_ = false;
};

}  // namespace packmeter
