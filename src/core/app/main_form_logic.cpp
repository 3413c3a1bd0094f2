#include "core/app/main_form_logic.hpp"

#include <algorithm>
#include <cctype>

#include "core/app/list_order.hpp"
#include "core/app/row_hint.hpp"
#include "core/app/volume_line.hpp"
#include "core/listview/list_view_actions.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/utils/size_text.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

// Seconds with one decimal: "0.4 s".
std::string Seconds(std::chrono::steady_clock::duration taken, const NumberFormat& format) {
    const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(taken).count() / 100;
    return GroupThousands(tenths / 10, format) + format.decimal + std::to_string(tenths % 10) +
           " s";
}

// Sets a flag for as long as it lives.
struct ApplyingScope {
    explicit ApplyingScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~ApplyingScope() { flag_ = false; }
    ApplyingScope(const ApplyingScope&) = delete;
    ApplyingScope& operator=(const ApplyingScope&) = delete;
    bool& flag_;
};

ScanTotals CalculatingTotals() {
    ScanTotals totals;
    totals.sizeText = kCalculatingText;
    totals.onDiskText = kCalculatingText;
    return totals;
}

}  // namespace

std::string ParentFolder(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
    const std::size_t cut = path.find_last_of(kPathSeparator);
    if (cut == std::string::npos) {
        return {};
    }
    // The separator stays only where it is the root's ("/", "C:\").
    const bool root = cut == 0 || (cut == 2 && path[1] == ':');
    std::string parent = path.substr(0, root ? cut + 1 : cut);
    return parent.size() < path.size() ? parent : std::string();
}

std::string RowsText(const std::vector<const ListItem*>& items) {
    const std::vector<std::string> captions(kColumnCaptions.begin(), kColumnCaptions.end());
    return RowsCopyText(captions, items, "\t", true);
}

MainFormLogic::MainFormLogic(MainFormView& view, MainFormServices services)
    : view_(view),
      services_(std::move(services)),
      commands_(std::make_unique<CompressionCommands>(view_, services_.fileSystem, channel_,
                                                      services_.numberFormat)) {
    commands_->SetEstimateServices(services_.makeCompressor, services_.newFileSystem);
    // The program's own Rename and Move to Trash change the rows: the folder is measured again,
    // so that no row names an entry that has gone (and the totals follow).
    commands_->onShellVerb = [this](const std::string& verb) {
        std::string lower = verb;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (lower == "rename" || lower == "delete") {
            RefreshActionExecute();
        }
    };
}

MainFormLogic::~MainFormLogic() {
    Shutdown();
    commands_.reset();
    active_.reset();
    stopped_.clear();
}

void MainFormLogic::FormShow(const std::vector<std::string>& args) {
    if (services_.enableBackupPrivilege) {
        services_.enableBackupPrivilege();
    }
    if (!args.empty()) {
        ScanFolder(args.front());
        if (!folderError_.empty()) {
            view_.ShowMessage(folderError_);
        }
    } else {
        ScanActionExecute();
    }
    view_.SetSortColumn(-1);
    if (!active_ && folderError_.empty()) {
        // Not "Calculating ..." for ever: say that nothing was chosen, and how to choose.
        view_.SetHeaderNotice(kNoFolderText);
        view_.SetStatusText(kNoFolderText);
    }
}

void MainFormLogic::ScanFolder(const std::string& path) {
    if (path.empty() || shutDown_) {
        return;
    }
    currentFolder_ = IncludeTrailingChar(services_.fullPath ? services_.fullPath(path) : path);
    keptNotice_.clear();
    StopActiveScan();
    commands_->ReleaseStatusLine();
    doneNotice_.clear();
    pendingNotice_.clear();
    rowsShown_ = 0;
    scanStart_ = Now();
    view_.ClearList();
    folderError_ = FolderProblem(currentFolder_);
    if (!folderError_.empty()) {
        ShowVolumeInfo(currentFolder_);
        view_.SetHeaderNotice(folderError_);
        view_.SetStatusText(folderError_);
        pendingNotice_.clear();
        return;
    }
    view_.SetHeaderNotice({});
    view_.SetTotals(CalculatingTotals());
    StartScan(true);
    ShowVolumeInfo(currentFolder_);
}

void MainFormLogic::StopActiveScan() {
    // Every scan that is replaced is asked to stop, a finished one too: its last batch may still
    // be queued, and whatever it handed over is dropped where the UI thread applies it, so no
    // wait is needed before the list is cleared. A running one is kept until it has ended.
    if (active_) {
        active_->Terminate();
        if (!active_->Finished()) {
            stopped_.push_back(std::move(active_));
            // Its end, with the normal cursor, is no longer heard of.
            scanBusy_ = false;
            view_.SetBusyCursor(commands_->Running());
        }
        active_.reset();
    }
    ReapStoppedScans();
}

void MainFormLogic::StartScan(bool rows) {
    auto output = std::make_shared<ScanChannelOutput>(channel_, rows);
    active_ = std::make_unique<TScan>(currentFolder_, output, services_.fileSystem, services_.icons,
                                      services_.numberFormat);
    if (services_.walkThreads > 0) {
        active_->SetWalkThreads(services_.walkThreads);
    }
    output->Bind(active_->StopToken());
    active_->Start();
}

void MainFormLogic::MeasureTotals() {
    // A scan still running brings its own totals; one that could not start has none to mend.
    if (shutDown_ || !folderError_.empty() || Scanning()) {
        return;
    }
    StopActiveScan();
    view_.SetTotals(CalculatingTotals());
    StartScan(false);
}

void MainFormLogic::ShowVolumeInfo(const std::string& path) {
    // Everything shown that comes from the file system goes through the display text.
    const std::string shownPath = ToSafeDisplayText(path);
    view_.SetPathText(shownPath);
    view_.SetCaption(std::string(kApplicationTitle) + " - " + shownPath);
    const VolumeInfo volume = services_.fileSystem->GetVolumeInfo(path);
    volumeLine_ = ToDisplayText(VolumeSummary(volume));
    view_.SetStatusText(ToDisplayText(VolumeLine(volume)));
    pendingNotice_ = ToDisplayText(volume.notice);
}

std::string MainFormLogic::FolderProblem(const std::string& folder) const {
    std::string reason;
    if (services_.pathProblem) {
        // Asked without the trailing separator, so that a file is found as the file it is.
        std::string bare = folder;
        if (bare.size() > 1 && bare.back() == kPathSeparator && bare[bare.size() - 2] != ':') {
            bare.pop_back();
        }
        reason = services_.pathProblem(bare);
    }
    if (reason.empty() && services_.isFolder && !services_.isFolder(folder)) {
        reason = "not a folder";
    }
    if (reason.empty() && !services_.fileSystem->OpenFolder(folder)) {
        reason = "permission denied";
    }
    return reason.empty() ? std::string()
                          : "Cannot read " + ToSafeDisplayText(folder) + ": " + reason;
}

std::string MainFormLogic::FinishedLine(const std::string& what) const {
    std::string line =
        volumeLine_ + " \u2014 " + what +
        GroupThousands(static_cast<std::int64_t>(rowsShown_), services_.numberFormat) +
        (rowsShown_ == 1 ? " entry" : " entries") + " in " +
        Seconds(Now() - scanStart_, services_.numberFormat);
    return line;
}

bool MainFormLogic::Scanning() const {
    return active_ && !active_->Terminated() && doneNotice_.empty() && folderError_.empty();
}

void MainFormLogic::StopScan() {
    if (!Scanning()) {
        return;
    }
    active_->Terminate();
    scanBusy_ = false;
    view_.SetBusyCursor(commands_->Running());
    view_.SetHeaderNotice(kStoppedText);
    doneNotice_ = FinishedLine("stopped after ");
    view_.SetStatusText(doneNotice_);
}

void MainFormLogic::CopySelectedRows() {
    std::vector<const ListItem*> items = view_.ItemsInOrder(true);
    if (items.empty()) {
        items = view_.ItemsInOrder(false);
    }
    if (!items.empty()) {
        view_.CopyToClipboard(RowsText(items));
    }
}

void MainFormLogic::OpenParentFolder() {
    const std::string parent = ParentFolder(currentFolder_);
    if (!parent.empty() && services_.launcher) {
        services_.launcher->StartInstance(parent);
    }
}

void MainFormLogic::KeyCommand(DesktopKey key) {
    if (key != DesktopKey::kOpen) {
        keptNotice_.clear();
    }
    switch (key) {
        case DesktopKey::kOpen:
            ListDblClick();
            break;
        case DesktopKey::kRefresh:
            RefreshActionExecute();
            break;
        case DesktopKey::kCopy:
            CopySelectedRows();
            break;
        case DesktopKey::kParent:
            OpenParentFolder();
            break;
        case DesktopKey::kStop:
            // Escape stops a running command first (after its current file), else the scan.
            if (commands_->Running()) {
                commands_->Cancel();
            } else {
                StopScan();
            }
            break;
    }
}

void MainFormLogic::DocumentNotOpened(const std::string& path, const std::string& reason) {
    if (shutDown_) {
        return;
    }
    const std::size_t slash = path.find_last_of(kPathSeparator);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Kept until the user's next action: the status timer does not write over it.
    keptNotice_ = "Cannot open " + ToSafeDisplayText(name) + ": " +
                  (reason.empty() ? "no application is set to open it" : reason);
    view_.SetStatusText(keptNotice_);
}

void MainFormLogic::ScanActionExecute() {
    // The picker opens at the folder shown.
    std::string folder = currentFolder_;
    if (view_.BrowseForFolder(folder)) {
        ScanFolder(folder);
        if (!folder.empty() && !folderError_.empty()) {
            view_.ShowMessage(folderError_);
        }
    }
}

void MainFormLogic::RefreshActionExecute() {
    ScanFolder(currentFolder_);
}

void MainFormLogic::ListDblClick() {
    keptNotice_.clear();
    const ListItem* item = view_.FirstSelectedItem();
    if (!item || !services_.launcher) {
        return;
    }
    const std::string path = currentFolder_ + item->RawName();
    if (services_.isFolder && services_.isFolder(path)) {
        services_.launcher->StartInstance(path);
    } else {
        const std::string problem = services_.launcher->OpenDocument(path);
        if (!problem.empty()) {
            DocumentNotOpened(path, problem);
        }
    }
}

bool MainFormLogic::FormKeyDown(int key, bool ctrlHeld) {
    if (key == 'A' && ctrlHeld) {
        view_.SelectAllItems();
    }
    return false;
}

void MainFormLogic::UpdateStatusTimerTimer() {
    ReapStoppedScans();
    commands_->Tick();
    if (!active_ || !folderError_.empty() || commands_->OwnsStatusLine() || !keptNotice_.empty()) {
        return;
    }
    if (!pendingNotice_.empty()) {
        view_.SetStatusText(pendingNotice_);
        pendingNotice_.clear();
        return;
    }
    if (!doneNotice_.empty()) {
        view_.SetStatusText(doneNotice_);
        return;
    }
    view_.SetStatusText(ToSafeDisplayText(CurrentScanFolder()));
}

std::chrono::steady_clock::time_point MainFormLogic::Now() const {
    return services_.now ? services_.now() : std::chrono::steady_clock::now();
}

std::optional<std::chrono::milliseconds> MainFormLogic::ScheduleApply() {
    if (pendingAt_ < pending_.size()) {
        // The rest of a batch cut short: after a short pause, whatever the interval says.
        if (applyTimerSet_) {
            return std::nullopt;
        }
        applyTimerSet_ = true;
        return kApplyRestPause;
    }
    const auto since = Now() - lastApply_;
    if (since >= kApplyInterval) {
        ApplyScanOutput();
        return std::nullopt;
    }
    if (applyTimerSet_) {
        return std::nullopt;
    }
    applyTimerSet_ = true;
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(kApplyInterval - since);
    return std::max(rest, std::chrono::milliseconds(1));
}

std::string MainFormLogic::CurrentScanFolder() const {
    return active_ ? active_->Progress().CurrentScanFolder() : std::string();
}

void MainFormLogic::ApplyScanOutput() {
    if (applying_) {
        // Called again from within (a message box's loop): the outer call goes on, and comes
        // back for what arrived meanwhile.
        applyAgain_ = true;
        return;
    }
    const ApplyingScope applying(applying_);
    const auto start = Now();
    lastApply_ = start;
    applyTimerSet_ = false;
    WorkerEvents taken = channel_->Take();
    if (shutDown_) {
        pending_ = {};
        pendingAt_ = 0;
        return;
    }
    if (pendingAt_ == pending_.size()) {
        pending_ = std::move(taken);
    } else {
        pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(pendingAt_));
        pending_.insert(pending_.end(), std::make_move_iterator(taken.begin()),
                        std::make_move_iterator(taken.end()));
    }
    pendingAt_ = 0;
    std::vector<ListItem> rows;
    const auto flushRows = [&] {
        if (!rows.empty()) {
            view_.AddItems(std::move(rows));
            rows.clear();
        }
    };
    // The clock is read once every kClockEvery events: reading it costs more than a row.
    constexpr std::size_t kClockEvery = 256;
    for (; pendingAt_ < pending_.size(); ++pendingAt_) {
        if (pendingAt_ % kClockEvery == kClockEvery - 1 && Now() - start >= kApplyBudget) {
            break;
        }
        WorkerEvent& event = pending_[pendingAt_];
        if (event.Stopped()) {
            continue;
        }
        if (std::holds_alternative<CommandNotice>(event.what)) {
            flushRows();
            // A command that switched entries of the folder shown changed its totals.
            if (commands_->ApplyOutput(currentFolder_, scanBusy_) &&
                commands_->Folder() == currentFolder_) {
                MeasureTotals();
            }
            continue;
        }
        if (auto* row = std::get_if<EntryRow>(&event.what)) {
            rows.push_back(EntryItem(std::move(*row)));
            ++rowsShown_;
            continue;
        }
        flushRows();
        if (const auto* busy = std::get_if<bool>(&event.what)) {
            scanBusy_ = *busy;
            view_.SetBusyCursor(*busy || commands_->Running());
        } else if (const auto* shared = std::get_if<SharedTotals>(&event.what)) {
            const ScanTotals* totals = shared->get();
            view_.SetTotals(*totals);
            doneNotice_ = FinishedLine({});
            const std::string unreadable = UnreadableNotice(totals->unreadable);
            if (!unreadable.empty()) {
                doneNotice_ += " \u2014 " + unreadable;
            }
            if (pendingNotice_.empty() && !commands_->OwnsStatusLine()) {
                view_.SetStatusText(doneNotice_);
            }
        }
    }
    flushRows();
    if (pendingAt_ < pending_.size() || applyAgain_) {
        applyAgain_ = false;
        channel_->Rewake();
    }
    if (pendingAt_ == pending_.size()) {
        // Its memory goes too: a batch that a slow turn let grow can hold a row's worth of
        // bytes for every row of the list.
        pending_ = {};
        pendingAt_ = 0;
    }
}

void MainFormLogic::Shutdown() {
    shutDown_ = true;
    channel_->SetWake({});
    if (active_) {
        active_->Terminate();
    }
    for (auto& scan : stopped_) {
        scan->Terminate();
    }
}

bool MainFormLogic::ListContextPopup(TShellBrowser& browser, int screenX, int screenY) {
    keptNotice_.clear();
    return commands_->ListContextPopup(browser, currentFolder_, screenX, screenY);
}

void MainFormLogic::PathLabelMouseUp(TShellBrowser& browser, int screenX, int screenY) {
    commands_->PathLabelMouseUp(browser, currentFolder_, screenX, screenY);
}

void MainFormLogic::DecompressMenuItemClick(int tag) {
    if (!shutDown_) {
        commands_->DecompressMenuItemClick(tag, currentFolder_);
    }
}

void MainFormLogic::ReapStoppedScans() {
    std::erase_if(stopped_, [](const std::unique_ptr<TScan>& scan) { return scan->Finished(); });
}

}  // namespace packmeter
