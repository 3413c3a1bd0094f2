#include "core/app/main_form_logic.hpp"

#include <algorithm>

#include "core/app/list_order.hpp"
#include "core/app/row_hint.hpp"
#include "core/app/volume_line.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

TMainFormLogic::TMainFormLogic(MainFormView& view, MainFormServices services)
    : view_(view), services_(std::move(services)) {}

TMainFormLogic::~TMainFormLogic() {
    Shutdown();
    active_.reset();
    stopped_.clear();
}

void TMainFormLogic::FormShow(const std::vector<std::string>& args) {
    if (services_.enableBackupPrivilege) {
        services_.enableBackupPrivilege();
    }
    if (!args.empty()) {
        ScanFolder(args.front());
    } else {
        ScanActionExecute();
    }
    view_.SetSortColumn(-1);
}

void TMainFormLogic::ScanFolder(const std::string& path) {
    if (path.empty() || shutDown_) {
        return;
    }
    currentFolder_ = IncludeTrailingChar(services_.fullPath ? services_.fullPath(path) : path);
    // A running scan is asked to stop and kept until it has ended. No wait is needed before the
    // list is cleared: whatever it hands over later is dropped where the UI thread applies it.
    if (active_ && !active_->Finished()) {
        active_->Terminate();
        stopped_.push_back(std::move(active_));
    }
    ReapStoppedScans();
    doneNotice_.clear();
    view_.ClearList();
    auto output = std::make_shared<ChannelOutput>(channel_);
    active_ = std::make_unique<TScan>(currentFolder_, output, services_.fileSystem, services_.icons,
                                      services_.numberFormat);
    if (services_.walkThreads > 0) {
        active_->SetWalkThreads(services_.walkThreads);
    }
    output->Bind(active_->StopToken());
    active_->Start();
    ShowVolumeInfo(currentFolder_);
}

void TMainFormLogic::ShowVolumeInfo(const std::string& path) {
    // Everything shown that comes from the file system goes through the display text.
    const std::string shownPath = ToDisplayText(path);
    view_.SetPathText(shownPath);
    view_.SetCaption(std::string(kApplicationTitle) + " - " + shownPath);
    const VolumeInfo volume = services_.fileSystem->GetVolumeInfo(path);
    view_.SetStatusText(ToDisplayText(VolumeLine(volume)));
    pendingNotice_ = ToDisplayText(volume.notice);
}

void TMainFormLogic::ScanActionExecute() {
    std::string folder;
    if (view_.BrowseForFolder(folder)) {
        ScanFolder(folder);
    }
}

void TMainFormLogic::RefreshActionExecute() {
    ScanFolder(currentFolder_);
}

void TMainFormLogic::ListDblClick() {
    const ListItem* item = view_.FirstSelectedItem();
    if (!item || !services_.launcher) {
        return;
    }
    const std::string path = currentFolder_ + item->data;
    if (services_.isFolder && services_.isFolder(path)) {
        services_.launcher->StartInstance(path);
    } else {
        services_.launcher->OpenDocument(path);
    }
}

bool TMainFormLogic::FormKeyDown(int key, bool ctrlHeld) {
    if (key == 'A' && ctrlHeld) {
        view_.SelectAllItems();
    }
    return false;
}

void TMainFormLogic::UpdateStatusTimerTimer() {
    ReapStoppedScans();
    if (!active_) {
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

std::chrono::steady_clock::time_point TMainFormLogic::Now() const {
    return services_.now ? services_.now() : std::chrono::steady_clock::now();
}

std::optional<std::chrono::milliseconds> TMainFormLogic::ScheduleApply() {
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

std::string TMainFormLogic::CurrentScanFolder() const {
    return active_ ? active_->Progress().CurrentScanFolder() : std::string();
}

void TMainFormLogic::ApplyScanOutput() {
    lastApply_ = Now();
    applyTimerSet_ = false;
    std::vector<ScanEvent> events = channel_->Take();
    if (shutDown_) {
        return;
    }
    std::vector<ListItem> rows;
    const auto flushRows = [&] {
        if (!rows.empty()) {
            view_.AddItems(std::move(rows));
            rows.clear();
        }
    };
    for (ScanEvent& event : events) {
        if (event.Stopped()) {
            continue;
        }
        if (auto* row = std::get_if<EntryRow>(&event.what)) {
            rows.push_back(EntryItem(std::move(*row)));
            continue;
        }
        flushRows();
        if (const auto* busy = std::get_if<bool>(&event.what)) {
            view_.SetBusyCursor(*busy);
        } else if (const auto* totals = std::get_if<ScanTotals>(&event.what)) {
            view_.SetTotals(*totals);
            doneNotice_ = UnreadableNotice(totals->unreadable);
            if (!doneNotice_.empty() && pendingNotice_.empty()) {
                view_.SetStatusText(doneNotice_);
            }
        }
    }
    flushRows();
}

void TMainFormLogic::Shutdown() {
    shutDown_ = true;
    channel_->SetWake({});
    if (active_) {
        active_->Terminate();
    }
    for (auto& scan : stopped_) {
        scan->Terminate();
    }
}

void TMainFormLogic::ReapStoppedScans() {
    std::erase_if(stopped_, [](const std::unique_ptr<TScan>& scan) { return scan->Finished(); });
}

}  // namespace packmeter
