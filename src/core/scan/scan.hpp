#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/scan/tree_measurer.hpp"

namespace packmeter {

// Receives what a scan produces, in the order it produces it: busy, rows, totals, idle.
// Called on the scan's thread; a window forwards each call to its UI thread and checks there
// that the scan has not been asked to stop meanwhile.
class ScanOutput {
  public:
    virtual ~ScanOutput() = default;
    // True when the walk begins (the busy cursor), false when it has ended.
    virtual void ScanBusy(bool busy) = 0;
    virtual void AddRow(EntryRow row) = 0;
    virtual void SetTotals(ScanTotals totals) = 0;
};

// Measures one folder on a thread of its own: first a row for every sub-folder (each once its
// whole tree is measured; the trees are walked concurrently, the rows still come in listing
// order), then a row for every file, then the totals. A file with several links counts once in
// a folder's row and once in the totals, though each of its names has a row of its own. Once
// asked to stop it abandons the walk and hands nothing more to its output.
class TScan {
  public:
    TScan(std::string folder, std::shared_ptr<ScanOutput> output, std::shared_ptr<FileSystem> fs,
          std::shared_ptr<IconSource> icons = nullptr, NumberFormat format = {});
    // Asks the worker to stop and waits for it to end.
    ~TScan();
    TScan(const TScan&) = delete;
    TScan& operator=(const TScan&) = delete;

    // How many threads walk the sub-folders' trees (before Start); 1 walks on the worker alone.
    void SetWalkThreads(unsigned threads) { walkThreads_ = threads == 0 ? 1 : threads; }

    // Starts the worker thread; a scan runs once.
    void Start();
    // Asks the worker to stop; it ends at its next entry.
    void Terminate();
    bool Terminated() const { return stop_->load(); }
    bool Finished() const { return finished_.load(); }
    void WaitFor();

    const std::string& Folder() const { return folder_; }
    // The progress of this scan's walk, for the status line of whoever started it.
    const ScanProgress& Progress() const { return progress_; }
    // The stop flag, for whoever applies the output later on another thread.
    std::shared_ptr<const StopFlag> StopToken() const { return stop_; }

    // The scan itself, on the calling thread.
    void Execute();
    // Hands the row of one entry, from its logical and then its on-disk size, to the output
    // unless the worker has been asked to stop.
    void AddEntry(std::string name, int iconIndex, bool isFolder, bool flagged,
                  std::int64_t logical, std::int64_t onDisk, EntryKind kind = EntryKind::kPlain,
                  std::int64_t unreadable = 0, AlgorithmSplit byAlgorithm = {});

  private:
    int IconIndex(std::string_view name, bool isFolder);

    std::string folder_;
    std::shared_ptr<ScanOutput> output_;
    std::shared_ptr<FileSystem> fs_;
    std::shared_ptr<IconSource> icons_;
    NumberFormat format_;
    unsigned walkThreads_ = TreeMeasurer::DefaultThreads();
    std::shared_ptr<StopFlag> stop_ = std::make_shared<StopFlag>(false);
    ScanProgress progress_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace packmeter
