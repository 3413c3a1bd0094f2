#include "core/app/compression_commands.hpp"

#include <functional>
#include <utility>

#include "core/app/compress_command.hpp"
#include "core/app/list_order.hpp"
#include "core/app/main_form_logic.hpp"
#include "core/app/main_menu.hpp"
#include "core/app/worker_channel.hpp"
#include "core/shell/shell_browser.hpp"
#include "core/utils/program_thread.hpp"
#include "core/utils/size_text.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

// What the worker hands to the UI thread, under the lock; one poke in the channel at a time.
struct CompressionCommands::Shared {
    enum class End { kRunning, kFinished, kFailed, kCancelled };

    std::mutex lock;
    CommandProgress progress;
    // The status line's path while the command runs; `statusChanged` when it is new.
    std::string statusPath;
    bool statusChanged = false;
    // Rows measured again since the last take, by raw name.
    std::vector<std::pair<std::string, EntryRow>> rows;
    std::vector<CompressionFailure> failures;
    // The last selected row reached: the status line of the command's end names it.
    std::string lastRowPath;
    // Entries inside trees that could not be switched, in the whole command.
    std::int64_t treeFailures = 0;
    // Files the choice's threshold left plain.
    std::int64_t leftAlone = 0;
    End end = End::kRunning;
    bool poked = false;
};

CompressionCommands::CompressionCommands(MainFormView& view, std::shared_ptr<FileSystem> fs,
                                         std::shared_ptr<WorkerChannel> channel,
                                         NumberFormat format)
    : view_(view),
      fs_(std::move(fs)),
      channel_(std::move(channel)),
      format_(std::move(format)),
      estimate_(channel_) {
    const auto click = [this](const MenuItem& sender) {
        DecompressMenuItemClick(sender.Tag, popupFolder_);
    };
    MenuItem compress;
    compress.Caption = kCompressCaption;
    compress.Name = "CompressMenuItem";
    compress.Tag = kCompressTag;
    compress.OnClick = click;
    MenuItem decompress = compress;
    decompress.Caption = kDecompressCaption;
    decompress.Name = "DecompressMenuItem";
    decompress.Tag = kDecompressTag;
    MenuItem compressWith = compress;
    compressWith.Caption = kCompressWithCaption;
    compressWith.Name = "CompressWithMenuItem";
    compressWith.Tag = kCompressWithTag;
    compressWith.OnClick = [this](const MenuItem&) {
        if (running_ || estimate_.Active()) {
            view_.ShowMessage(kCommandBusyText);
        } else if (onCompressWith) {
            onCompressWith(popupFolder_, SelectedNames());
        }
    };
    MenuItem estimate = compress;
    estimate.Caption = kEstimateCaption;
    estimate.Name = "EstimateMenuItem";
    estimate.Tag = kEstimateTag;
    estimate.OnClick = [this](const MenuItem&) { EstimateMenuItemClick(popupFolder_); };
    popup_.Items = {std::move(compress), std::move(compressWith), std::move(estimate),
                    std::move(decompress)};
}

CompressionCommands::~CompressionCommands() {
    stop_.store(true);
    Join();
}

void CompressionCommands::SetView(CommandView* view) {
    commandView_ = view;
}

void CompressionCommands::UpdateMenuItems() {
    const std::vector<const ListItem*> selected = view_.ItemsInOrder(true);
    if (selected.size() != 1) {
        return;
    }
    const int state = static_cast<int>(selected.front()->keys.state);
    // "Compress with..." goes with "&COMPRESS"; an estimate says something of every entry.
    popup_.Items[0].Visible = (state & kStateCompressed) == 0;
    popup_.Items[1].Visible = popup_.Items[0].Visible;
    popup_.Items[3].Visible = state != kStatePlain;
}

bool CompressionCommands::ListContextPopup(TShellBrowser& browser, const std::string& folder,
                                           int screenX, int screenY) {
    if (folder.empty()) {
        // No folder is shown yet: there is nothing to show a menu for.
        return true;
    }
    UpdateMenuItems();
    // An item whose window part is missing is not offered.
    if (!onCompressWith) {
        popup_.Items[1].Visible = false;
    }
    if (!makeCompressor_) {
        popup_.Items[2].Visible = false;
    }
    popupFolder_ = IncludeTrailingChar(folder);
    browser.SetShowErrorMessages(true);
    try {
        browser.SetFolder(popupFolder_);
        browser.MultiObjects().clear();
        const std::vector<const ListItem*> selected = view_.ItemsInOrder(true);
        // The raw names: a caption is display text, which a name that is not valid UTF-8
        // differs from.
        for (const ListItem* item : selected) {
            browser.MultiObjects().push_back(item->RawName());
        }
        if (selected.empty()) {
            browser.SelectFolderAsObject();
        }
        std::string verb;
        browser.ShowContextMenu({screenX, screenY}, &popup_, verb);
        if (!verb.empty() && onShellVerb) {
            onShellVerb(verb);
        }
    } catch (const EShellBrowserError& error) {
        browser.MultiObjects().clear();
        view_.ShowMessage(error.what());
    }
    return true;
}

void CompressionCommands::PathLabelMouseUp(TShellBrowser& browser, const std::string& folder,
                                           int screenX, int screenY) {
    if (commandView_) {
        commandView_->ClearSelection();
    }
    ListContextPopup(browser, folder, screenX, screenY);
}

std::vector<std::string> CompressionCommands::SelectedNames() const {
    std::vector<std::string> names;
    for (const ListItem* item : view_.ItemsInOrder(true)) {
        names.push_back(item->RawName());
    }
    return names;
}

void CompressionCommands::DecompressMenuItemClick(int tag, const std::string& folder) {
    if (running_ || estimate_.Active()) {
        view_.ShowMessage(kCommandBusyText);
        return;
    }
    const bool decompress = tag == kDecompressTag;
    // Plain "&COMPRESS" keeps the volume's default: the shared file system has no choice, or
    // (without a fresh one per command) is given the default back.
    if (!newFileSystem_ && !decompress && std::exchange(sharedChoiceSet_, false)) {
        fs_->SetCompressionChoice({});
    }
    Start(SelectedNames(), folder, decompress, fs_);
}

void CompressionCommands::CompressWith(const std::string& folder, std::vector<std::string> names,
                                       CompressionChoice choice) {
    if (running_ || estimate_.Active()) {
        view_.ShowMessage(kCommandBusyText);
        return;
    }
    std::shared_ptr<FileSystem> fs = newFileSystem_ ? newFileSystem_() : fs_;
    sharedChoiceSet_ = sharedChoiceSet_ || !newFileSystem_;
    Start(std::move(names), folder, false, fs, &choice);
}

void CompressionCommands::Start(std::vector<std::string> names, const std::string& folder,
                                bool decompress, std::shared_ptr<FileSystem> fs,
                                CompressionChoice* choice) {
    Join();
    std::vector<RowTarget> targets;
    for (std::string& name : names) {
        targets.push_back({std::move(name)});
    }
    failures_.clear();
    treeFailures_ = 0;
    statusKept_ = false;
    if (commandView_) {
        commandView_->SetCommandFailures(failures_);
    }
    // With no row selected the menu was the shown folder's own: its tree is switched.
    const bool wholeFolder = targets.empty();
    folder_ = IncludeTrailingChar(folder);
    stop_.store(false);
    shared_ = std::make_shared<Shared>();
    shared_->progress.running = true;
    shared_->progress.decompress = decompress;
    shared_->progress.counting = true;
    running_ = true;
    view_.SetBusyCursor(true);
    if (commandView_) {
        commandView_->SetCommandProgress(shared_->progress);
    }
    if (choice) {
        // The threshold's files are counted in the command's state (the file system may keep
        // the choice longer than the command).
        choice->leftAlone = [shared = std::weak_ptr<Shared>(shared_)](std::string_view, double) {
            if (const auto state = shared.lock()) {
                std::lock_guard guard(state->lock);
                ++state->leftAlone;
            }
        };
        fs->SetCompressionChoice(*choice);
    }
    worker_ = StartProgramThread(
        "CompressionCommands", [this, targets = std::move(targets), folder = folder_, decompress,
                                wholeFolder, fs = std::move(fs)]() mutable {
            Run(std::move(targets), std::move(folder), decompress, wholeFolder, std::move(fs));
        });
}

std::string CompressionCommands::FileSystemOf(const std::string& folder) const {
    return fs_->GetVolumeInfo(folder).fileSystem;
}

void CompressionCommands::SetEstimateServices(
    CompressorFactory makeCompressor, std::function<std::shared_ptr<FileSystem>()> newFileSystem) {
    makeCompressor_ = std::move(makeCompressor);
    newFileSystem_ = std::move(newFileSystem);
}

void CompressionCommands::EstimateMenuItemClick(const std::string& folder, bool quick) {
    Estimate(folder, SelectedNames(), quick);
}

void CompressionCommands::Estimate(const std::string& folder, std::vector<std::string> names,
                                   bool quick) {
    if (running_ || estimate_.Active()) {
        view_.ShowMessage(kCommandBusyText);
        return;
    }
    if (!makeCompressor_) {
        view_.ShowMessage("The saving cannot be estimated: no compressor is available.");
        return;
    }
    EstimateResult request;
    request.folder = IncludeTrailingChar(folder);
    request.wholeFolder = names.empty();
    request.names = std::move(names);
    request.request.method = choice_;
    request.request.method.leftAlone = nullptr;
    request.request.quick = quick;
    request.request.rules = forecastRules_;
    estimatePath_ = request.wholeFolder || request.names.size() > 1
                        ? request.folder
                        : request.folder + request.names.front();
    statusKept_ = false;
    view_.SetStatusText(kEstimatingText + ToSafeDisplayText(estimatePath_) + kEllipsisText);
    view_.SetBusyCursor(true);
    estimate_.Start(fs_, makeCompressor_, std::move(request));
    if (commandView_) {
        commandView_->SetCommandProgress(estimate_.Progress());
    }
}

void CompressionCommands::Tick() {
    if (estimate_.Active() && commandView_) {
        commandView_->SetCommandProgress(estimate_.Progress());
    }
}

bool CompressionCommands::ApplyEstimate() {
    std::optional<EstimateResult> result = estimate_.TakeResult();
    if (!result) {
        return false;
    }
    CommandProgress progress = estimate_.Progress();
    progress.running = false;
    if (commandView_) {
        commandView_->SetCommandProgress(progress);
    }
    view_.SetBusyCursor(false);
    statusKept_ = true;
    view_.SetStatusText(kEstimatingText + ToSafeDisplayText(estimatePath_) + kEllipsisText +
                        (result->complete ? kFinishedText : kCancelledText));
    if (result->complete && onEstimateDone) {
        onEstimateDone(std::move(*result));
    }
    return true;
}

void CompressionCommands::Cancel() {
    if (running_) {
        stop_.store(true);
    }
    if (estimate_.Active()) {
        estimate_.Cancel();
    }
}

bool CompressionCommands::Running() const {
    return running_ || estimate_.Active();
}

CommandProgress CompressionCommands::Progress() const {
    if (!shared_) {
        return {};
    }
    std::lock_guard guard(shared_->lock);
    return shared_->progress;
}

std::string CompressionCommands::FailuresText(std::size_t lines) const {
    std::string text;
    for (std::size_t i = 0; i < failures_.size() && i < lines; ++i) {
        const CompressionFailure& failure = failures_[i];
        text += (i > 0 ? "\n" : "") + ToSafeDisplayText(failure.path) +
                (failure.reason.empty() ? "" : ": " + failure.reason);
    }
    if (failures_.size() > lines) {
        text += "\n... and " +
                GroupThousands(static_cast<std::int64_t>(failures_.size() - lines), format_) +
                " more";
    }
    return text;
}

bool CompressionCommands::FormCloseQuery() {
    // An estimate changes nothing: it is stopped without asking.
    estimate_.Stop();
    if (!running_) {
        return true;
    }
    if (commandView_ && !commandView_->AskStopCommand(kCloseWhileRunningText)) {
        return false;
    }
    stop_.store(true);
    Join();
    running_ = false;
    return true;
}

void CompressionCommands::Join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool CompressionCommands::ApplyOutput(const std::string& currentFolder, bool scanBusy) {
    if (estimate_.Active()) {
        ApplyEstimate();
        return false;
    }
    if (!shared_) {
        return false;
    }
    std::string statusPath;
    bool statusChanged = false;
    std::vector<std::pair<std::string, EntryRow>> rows;
    std::vector<CompressionFailure> failures;
    CommandProgress progress;
    std::string lastRowPath;
    std::int64_t leftAlone = 0;
    Shared::End end = Shared::End::kRunning;
    {
        std::lock_guard guard(shared_->lock);
        statusPath = shared_->statusPath;
        statusChanged = std::exchange(shared_->statusChanged, false);
        rows.swap(shared_->rows);
        failures.swap(shared_->failures);
        progress = shared_->progress;
        lastRowPath = shared_->lastRowPath;
        treeFailures_ = shared_->treeFailures;
        leftAlone = shared_->leftAlone;
        end = shared_->end;
        shared_->poked = false;
    }
    if (!running_) {
        return false;
    }
    const std::string prefix = progress.decompress ? kDecompressingText : kCompressingText;
    // Rows of another folder than the one the command ran in are not in the list any more.
    const bool sameFolder = currentFolder == folder_;
    if (commandView_ && sameFolder) {
        for (auto& [name, row] : rows) {
            commandView_->UpdateItem(name, EntryItem(std::move(row)));
        }
    }
    if (!failures.empty()) {
        failures_.insert(failures_.end(), std::make_move_iterator(failures.begin()),
                         std::make_move_iterator(failures.end()));
        if (commandView_) {
            commandView_->SetCommandFailures(failures_);
        }
    }
    if (statusChanged) {
        view_.SetStatusText(prefix + ToSafeDisplayText(statusPath) + kEllipsisText);
    }
    if (end == Shared::End::kRunning) {
        if (commandView_) {
            commandView_->SetCommandProgress(progress);
        }
        return false;
    }
    Join();
    running_ = false;
    statusKept_ = true;
    progress.running = false;
    if (commandView_) {
        commandView_->SetCommandProgress(progress);
    }
    view_.SetBusyCursor(scanBusy);
    switch (end) {
        case Shared::End::kFinished: {
            std::string line =
                prefix + ToSafeDisplayText(lastRowPath) + kEllipsisText + kFinishedText;
            if (treeFailures_ > 0) {
                line += FailedEntriesText(treeFailures_, format_);
            }
            if (leftAlone > 0) {
                line += LeftAloneText(leftAlone, format_);
            }
            view_.SetStatusText(line);
            if (commandView_ && sameFolder) {
                commandView_->ClearSelection();
            }
            break;
        }
        case Shared::End::kFailed:
            // The line names the file that failed; selection and line stay for the user.
            if (commandView_) {
                commandView_->Beep();
            }
            break;
        case Shared::End::kCancelled:
            view_.SetStatusText(prefix + ToSafeDisplayText(statusPath) + kEllipsisText +
                                kCancelledText);
            break;
        case Shared::End::kRunning:
            break;
    }
    return true;
}

void CompressionCommands::Run(std::vector<RowTarget> targets, std::string folder, bool decompress,
                              bool wholeFolder, std::shared_ptr<FileSystem> fs) {
    Shared& shared = *shared_;
    const std::shared_ptr<WorkerChannel> channel = channel_;
    // One notice in the channel at a time: the UI thread takes everything that came since.
    const auto poke = [&shared, channel] {
        {
            std::lock_guard guard(shared.lock);
            if (std::exchange(shared.poked, true)) {
                return;
            }
        }
        channel->Push({CommandNotice{}, nullptr});
    };
    std::vector<std::string> names;
    for (const RowTarget& target : targets) {
        names.push_back(target.name);
    }
    if (wholeFolder) {
        names = TreeEntryNames(*fs, folder);
    }
    // The quick count first, so that the figure has its totals.
    {
        std::lock_guard guard(shared.lock);
        shared.statusPath = wholeFolder ? folder : folder + names.front();
        shared.lastRowPath = shared.statusPath;
        shared.statusChanged = true;
    }
    poke();
    const CompressCount count = CountEntries(*fs, folder, names, &stop_);
    {
        std::lock_guard guard(shared.lock);
        // The shown folder's own mark is one entry more.
        shared.progress.entriesTotal = count.entries + (wholeFolder ? 1 : 0);
        shared.progress.bytesTotal = count.bytes;
        shared.progress.counting = false;
    }
    poke();

    // Hands each step to the shared state.
    class Listener final : public CompressListener {
      public:
        Listener(Shared& shared, const std::string& folder, const std::vector<std::string>& names,
                 const std::function<void()>& poke, bool wholeFolder)
            : shared_(shared),
              folder_(folder),
              names_(names),
              poke_(poke),
              wholeFolder_(wholeFolder) {}
        // The line at the end names the last selected row, or the shown folder when it was
        // switched as a whole.
        void EntryStarted(std::size_t index) override {
            if (!wholeFolder_) {
                std::lock_guard guard(shared_.lock);
                shared_.lastRowPath = folder_ + names_[index];
            }
        }
        void Switching(const std::string& path) override {
            {
                std::lock_guard guard(shared_.lock);
                shared_.progress.currentPath = path;
                shared_.statusPath = path;
                shared_.statusChanged = true;
            }
            poke_();
        }
        void Switched(const std::string&, std::int64_t bytes, bool) override {
            {
                std::lock_guard guard(shared_.lock);
                ++shared_.progress.entriesDone;
                shared_.progress.bytesDone += bytes;
            }
            poke_();
        }
        void Measured(std::size_t index, EntryRow row) override {
            {
                std::lock_guard guard(shared_.lock);
                shared_.rows.emplace_back(names_[index], std::move(row));
            }
            poke_();
        }
        void Failed(const CompressionFailure& failure, bool insideTree) override {
            std::lock_guard guard(shared_.lock);
            shared_.failures.push_back(failure);
            shared_.treeFailures += insideTree ? 1 : 0;
        }

      private:
        Shared& shared_;
        const std::string& folder_;
        const std::vector<std::string>& names_;
        const std::function<void()>& poke_;
        bool wholeFolder_;
    };
    const std::function<void()> pokeFunction = poke;
    Listener listener(shared, folder, names, pokeFunction, wholeFolder);
    const CompressOutcome outcome =
        wholeFolder ? CompressFolderTree(*fs, folder, names, decompress, &stop_, listener)
                    : CompressEntries(*fs, folder, names, decompress, &stop_, listener);
    {
        std::lock_guard guard(shared.lock);
        switch (outcome) {
            case CompressOutcome::kDone:
                shared.end = Shared::End::kFinished;
                break;
            case CompressOutcome::kFailed:
                shared.end = Shared::End::kFailed;
                break;
            case CompressOutcome::kStopped:
                shared.end = Shared::End::kCancelled;
                break;
        }
        // The end is always announced, even when a notice is still waiting to be taken.
        shared.poked = false;
    }
    poke();
}

}  // namespace packmeter
