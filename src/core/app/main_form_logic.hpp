#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/app/compression_commands.hpp"
#include "core/app/main_form_layout.hpp"
#include "core/app/worker_channel.hpp"
#include "core/fs/filesystem.hpp"
#include "core/listview/list_item.hpp"
#include "core/scan/scan.hpp"
#include "core/utils/forecast.hpp"
#include "core/utils/size_text.hpp"

namespace packmeter {

// The main window as its logic sees it. Every call comes on the UI thread.
class MainFormView {
  public:
    virtual ~MainFormView() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetPathText(const std::string& text) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetTotals(const ScanTotals& totals) = 0;
    // A sentence shown where the totals stand, in their place (a folder that cannot be read, no
    // folder chosen, a stopped scan); empty: the totals are shown again.
    virtual void SetHeaderNotice(const std::string& text) = 0;
    // A message box over the window that tells the user something went wrong.
    virtual void ShowMessage(const std::string& text) = 0;
    // The busy cursor of a running scan, or the normal one.
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void ClearList() = 0;
    virtual void AddItems(std::vector<ListItem> items) = 0;
    virtual void SelectAllItems() = 0;
    // The first selected row in list order, or nullptr when no row is selected.
    virtual const ListItem* FirstSelectedItem() const = 0;
    // The rows in list order: the selected ones, or all when `selectedOnly` is false.
    virtual std::vector<const ListItem*> ItemsInOrder(bool selectedOnly) const = 0;
    virtual void CopyToClipboard(const std::string& text) = 0;
    // Shows the folder picker, open at `folder` when it names one; true, with the folder, when
    // the user confirmed a choice.
    virtual bool BrowseForFolder(std::string& folder) = 0;
    virtual void SetSortColumn(int column) = 0;
};

// Starts other programs for the list's double-click. Failures are silent.
class Launcher {
  public:
    virtual ~Launcher() = default;
    // A new, independent instance of this program that scans `folder`.
    virtual void StartInstance(const std::string& folder) = 0;
    // The document in the application that the desktop associates with it. Returns why it
    // cannot be opened when that is known at once ("no application is set to open it"); a
    // launcher that learns it later calls MainFormLogic::DocumentNotOpened.
    virtual std::string OpenDocument(const std::string& path) = 0;
};

// What the platform provides to the window's logic.
struct MainFormServices {
    std::shared_ptr<FileSystem> fileSystem;
    std::shared_ptr<IconSource> icons;
    NumberFormat numberFormat;
    std::shared_ptr<Launcher> launcher;
    std::function<bool(const std::string&)> isFolder;
    // Why a path cannot be reached ("no such file or folder"); empty when it exists. Unset:
    // only isFolder and the file system are asked.
    std::function<std::string(const std::string&)> pathProblem;
    // Makes a given path absolute; unset: paths are taken as given.
    std::function<std::string(const std::string&)> fullPath;
    std::function<bool()> enableBackupPrivilege;
    // Unset: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> now;
    // The estimate's chunk compressors, and a fresh file system for a command with its own
    // compression choice (CompressionCommands::SetEstimateServices); unset: no estimate.
    CompressorFactory makeCompressor;
    std::function<std::shared_ptr<FileSystem>()> newFileSystem;
    // Walking threads per scan; 0: the scan's own choice.
    unsigned walkThreads = 0;
};

// The desktop's keys that the window hands to its logic.
enum class DesktopKey {
    kOpen,     // Enter: opens the selected row as a double-click does
    kRefresh,  // F5
    kCopy,     // Ctrl+C: the selected rows, or all rows when none is selected
    kParent,   // Backspace, Alt+Up: the parent folder in a new window
    kStop,     // Escape: stops a running scan
};

// The folder above `folder` (which ends in a separator), without a trailing separator unless
// it is a root ("/", "C:\"); empty when `folder` is a root.
std::string ParentFolder(const std::string& folder);

// The clipboard text of some rows of the main list, as the copy command makes it for the whole
// list: the column captions, then the rows, fields separated by tabs, lines ended by CR LF.
std::string RowsText(const std::vector<const ListItem*>& items);

// What the main window decides: starting and replacing scans, the header and status texts,
// applying what the scans hand over, the double-click, Ctrl+A and the status timer.
class MainFormLogic {
  public:
    MainFormLogic(MainFormView& view, MainFormServices services);
    // Stops every scan and waits for them to end.
    ~MainFormLogic();
    MainFormLogic(const MainFormLogic&) = delete;
    MainFormLogic& operator=(const MainFormLogic&) = delete;

    // The folder shown, with a trailing separator; empty before the first scan.
    const std::string& CurrentFolder() const { return currentFolder_; }
    // The user's number separators, for the texts the window makes itself.
    const NumberFormat& NumberFormatting() const { return services_.numberFormat; }
    // Where the rows' icons come from (may be null).
    IconSource* Icons() const { return services_.icons.get(); }
    // The scan started last, running or not; nullptr before the first scan.
    const TScan* ActiveScan() const { return active_.get(); }
    // Scan objects alive: the active one and stopped ones that are still ending.
    std::size_t ScanObjects() const { return stopped_.size() + (active_ ? 1 : 0); }
    // The folder that the walk of the active scan entered last; empty before the first scan.
    std::string CurrentScanFolder() const;
    // Where the scans' output arrives; the window sets its wake function.
    WorkerChannel& Channel() { return *channel_; }

    // The window is shown for the first time; `args` are the command-line arguments.
    void FormShow(const std::vector<std::string>& args);
    void ScanFolder(const std::string& path);
    void ShowVolumeInfo(const std::string& path);
    void ScanActionExecute();
    void RefreshActionExecute();
    void ListDblClick();
    // A key went down while the window was active: `key` is the key's letter in upper case;
    // Ctrl (with any other modifiers) + A selects every row. Returns whether the key is
    // consumed, which it never is.
    bool FormKeyDown(int key, bool ctrlHeld);
    void UpdateStatusTimerTimer();
    void KeyCommand(DesktopKey key);
    // Stops a running scan: its rows stay, the totals say that they are not known.
    void StopScan();
    // Copies the selected rows, or all rows when none is selected.
    void CopySelectedRows();
    // Opens the folder above the one shown in a new window.
    void OpenParentFolder();
    // A launcher found out later that `path` could not be opened, and why.
    void DocumentNotOpened(const std::string& path, const std::string& reason);
    // Whether a scan has been started and has not yet ended or been stopped.
    bool Scanning() const;
    // The channel's wake has reached the UI thread. Batches are kept kApplyInterval apart:
    // applies the output now when the last batch is that old; otherwise returns how long the
    // window's one-shot timer has to wait before it calls ApplyScanOutput, or nothing when
    // that timer is already running.
    std::optional<std::chrono::milliseconds> ScheduleApply();
    // Applies what the scans handed over since the last call, leaving out everything of a
    // scan that has been asked to stop. A batch that takes longer than kApplyBudget stops
    // there; the rest follows kApplyRestPause later, through the wake and ScheduleApply.
    void ApplyScanOutput();
    // Detaches the window and asks every scan to stop: nothing reaches the view afterwards.
    void Shutdown();

    // The compression commands of the list's and the path label's context menu.
    CompressionCommands& Commands() { return *commands_; }
    // The window's part of the commands' view (beep, rows updated in place, progress...).
    void SetCommandView(CommandView* view) { commands_->SetView(view); }
    // A right-click on the list at a screen point: the shell's menu for the selected rows (or
    // the shown folder) with "&COMPRESS" and "&DECOMPRESS" merged in. Returns true (handled).
    bool ListContextPopup(TShellBrowser& browser, int screenX, int screenY);
    // A mouse button released over the path label, at a screen point.
    void PathLabelMouseUp(TShellBrowser& browser, int screenX, int screenY);
    // "&COMPRESS" (tag 1) or "&DECOMPRESS" (tag -1) was chosen.
    void DecompressMenuItemClick(int tag);
    // Stops a running compression command after its current file.
    void CancelCommand() { commands_->Cancel(); }
    bool CommandRunning() const { return commands_->Running(); }
    // The window is about to close: false keeps it open (the user chose to let a running
    // command go on); true once a running command has been cancelled and has ended.
    bool FormCloseQuery() { return commands_->FormCloseQuery(); }

  private:
    // Why the folder cannot be scanned, as a sentence for the user; empty when it can.
    std::string FolderProblem(const std::string& folder) const;
    // The status line once the scan has ended (or was stopped after `what`).
    std::string FinishedLine(const std::string& what) const;
    void ReapStoppedScans();
    // Asks the active scan (running or finished) to stop before another replaces it.
    void StopActiveScan();
    // Starts the scan of the folder shown; without `rows`, only its totals reach the window.
    void StartScan(bool rows);
    // Measures the shown folder's totals again, as Refresh does, but under the rows that stay
    // (after a compression command changed them).
    void MeasureTotals();
    std::chrono::steady_clock::time_point Now() const;

    MainFormView& view_;
    MainFormServices services_;
    std::shared_ptr<WorkerChannel> channel_ = std::make_shared<WorkerChannel>();
    std::string currentFolder_;
    // A message about the user's last action (a document that did not open), kept in the status
    // line until the next action.
    std::string keptNotice_;
    std::unique_ptr<TScan> active_;
    std::vector<std::unique_ptr<TScan>> stopped_;
    // A notice about the shown volume, shown at the first tick after its volume line.
    std::string pendingNotice_;
    // Shown in the status line once the scan has ended: the volume line, the entries and the
    // time taken, and what it could not read.
    std::string doneNotice_;
    // The shown folder's volume in short, the start of the line that ends a scan.
    std::string volumeLine_;
    // Why the folder shown could not be scanned; empty while it could.
    std::string folderError_;
    std::size_t rowsShown_ = 0;
    std::chrono::steady_clock::time_point scanStart_{};
    std::chrono::steady_clock::time_point lastApply_{};
    bool applyTimerSet_ = false;
    // Events taken from the channel and not yet applied: those from pendingAt_ on.
    WorkerEvents pending_;
    std::size_t pendingAt_ = 0;
    bool applying_ = false;
    bool applyAgain_ = false;
    bool shutDown_ = false;
    // The last busy state a scan handed over.
    bool scanBusy_ = false;
    std::unique_ptr<CompressionCommands> commands_;
};

}  // namespace packmeter
