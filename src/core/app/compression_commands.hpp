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
#include "core/app/estimate_job.hpp"
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
// The items beside "&COMPRESS" (captions in main_menu.hpp): the choice of algorithm and
// threshold, and the forecast of the saving.
inline constexpr int kCompressWithTag = 2;
inline constexpr int kEstimateTag = 3;

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

    // The popup menu handed to the shell browser: "&COMPRESS" (tag 1), "Compress with..."
    // (onCompressWith), "Estimate saving..." (EstimateMenuItemClick) and "&DECOMPRESS" (tag
    // -1), each for the selected rows (or the shown folder) of the last popup.
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

    // The entries a menu item acts on: the selected rows' raw names in list order, or, with no
    // row selected, none (the folder's whole tree).
    std::vector<std::string> SelectedNames() const;
    // "Compress with..." was chosen for `names` of `folder` (none: its whole tree): the window
    // asks for the choice (algorithm, level, threshold) and calls CompressWith.
    std::function<void(const std::string& folder, std::vector<std::string> names)> onCompressWith;
    // Compresses `names` of `folder` (none: its whole tree) as "&COMPRESS" does, but with
    // `choice`; files its threshold leaves plain are counted on the status line.
    void CompressWith(const std::string& folder, std::vector<std::string> names,
                      CompressionChoice choice);
    // The file system of the volume `folder` lies on ("btrfs", "NTFS"), for the choice dialog.
    std::string FileSystemOf(const std::string& folder) const;

    // What the estimate needs besides the file system: the chunk compressors, a fresh file
    // system for a command with its own choice (unset: the shared one takes the choice while
    // the command runs), and the rules to forecast with everywhere (unset: each volume's own).
    void SetEstimateServices(CompressorFactory makeCompressor,
                             std::function<std::shared_ptr<FileSystem>()> newFileSystem);
    void SetForecastRules(std::optional<ForecastRules> rules) { forecastRules_ = rules; }
    // The choice the estimate forecasts with (the window's remembered one).
    void SetChoice(CompressionChoice choice) { choice_ = std::move(choice); }
    const CompressionChoice& Choice() const { return choice_; }
    // "Estimate saving..." was chosen: the forecast of the selected rows of `folder` (or its
    // whole tree) with the current choice, on a worker, its progress and Cancel in the status
    // bar. Refused with a message while a command runs.
    void EstimateMenuItemClick(const std::string& folder, bool quick = true);
    // The same for given entries (none: the whole tree), as the result dialog asks again.
    void Estimate(const std::string& folder, std::vector<std::string> names, bool quick);
    // The estimate has ended and was not cancelled: the window shows the result (on the UI
    // thread, from ApplyOutput; show the dialog after returning, not inside this call).
    std::function<void(EstimateResult result)> onEstimateDone;
    // The status timer's tick: the running estimate's progress figure.
    void Tick();
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

    void Start(std::vector<std::string> names, const std::string& folder, bool decompress,
               std::shared_ptr<FileSystem> fs, CompressionChoice* choice = nullptr);
    void Run(std::vector<RowTarget> targets, std::string folder, bool decompress, bool wholeFolder,
             std::shared_ptr<FileSystem> fs);
    bool ApplyEstimate();
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
    CompressorFactory makeCompressor_;
    std::function<std::shared_ptr<FileSystem>()> newFileSystem_;
    std::optional<ForecastRules> forecastRules_;
    CompressionChoice choice_;
    // The shared file system was given a choice (no fresh one per command).
    bool sharedChoiceSet_ = false;
    EstimateJob estimate_;
    // The estimate's folder as the status line names it.
    std::string estimatePath_;
};

}  // namespace packmeter
