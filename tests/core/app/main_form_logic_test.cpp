#include "core/app/main_form_logic.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/app/list_order.hpp"
#include "core/app/volume_line.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::P;

// The window as a log of what the logic asked of it.
class FakeView : public MainFormView {
  public:
    void SetCaption(const std::string& text) override { caption = text; }
    void SetPathText(const std::string& text) override { path = text; }
    void SetStatusText(const std::string& text) override { status = text; }
    void SetTotals(const ScanTotals& t) override {
        totals = t.sizeText + "|" + t.onDiskText + "|" + t.ratioText;
    }
    void SetHeaderNotice(const std::string& text) override { notice = text; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<const ListItem*> ItemsInOrder(bool selectedOnly) const override {
        std::vector<const ListItem*> out;
        if (selectedOnly) {
            for (const std::size_t i : selected) {
                out.push_back(&rows.at(i));
            }
        } else {
            for (const auto& row : rows) {
                out.push_back(&row);
            }
        }
        return out;
    }
    void CopyToClipboard(const std::string& text) override { clipboard = text; }
    void SetBusyCursor(bool busy) override { busyLog.push_back(busy); }
    void ClearList() override {
        ++clears;
        rows.clear();
        selected.clear();
    }
    void AddItems(std::vector<ListItem> items) override {
        ++batches;
        for (auto& item : items) {
            rows.push_back(std::move(item));
        }
    }
    void SelectAllItems() override {
        selected.clear();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            selected.push_back(i);
        }
    }
    const ListItem* FirstSelectedItem() const override {
        return selected.empty() ? nullptr : &rows.at(selected.front());
    }
    bool BrowseForFolder(std::string& folder) override {
        ++pickerRuns;
        pickerStart = folder;
        if (!pickerAnswer) {
            return false;
        }
        folder = *pickerAnswer;
        return true;
    }
    void SetSortColumn(int column) override { sortColumn = column; }

    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& row : rows) {
            out.push_back(row.caption);
        }
        return out;
    }

    std::string caption, path, status, totals, notice, clipboard, pickerStart;
    std::vector<std::string> messages;
    std::vector<bool> busyLog;
    std::vector<ListItem> rows;
    std::vector<std::size_t> selected;
    int clears = 0;
    int batches = 0;
    int pickerRuns = 0;
    std::optional<std::string> pickerAnswer;
    int sortColumn = 99;
};

class RecordingLauncher : public Launcher {
  public:
    void StartInstance(const std::string& folder) override { log.push_back("instance " + folder); }
    std::string OpenDocument(const std::string& path) override {
        log.push_back("open " + path);
        return answer;
    }
    std::string answer;
    std::vector<std::string> log;
};

class MainFormLogicTest : public ::testing::Test {
  protected:
    MainFormLogicTest() {
        auto& a = fs->Root().Folder("a");
        a.Folder("sub").File("inner.txt", 8 * 1024, 5 * 1024);
        a.File("one.txt", 2048).File("two.bin", 4096, 4096, attr::kCompressed);
        fs->Root().Folder("b").File("only.txt", 1024);
        services.fileSystem = fs;
        services.launcher = launcher;
        services.isFolder = [this](const std::string& path) {
            const FakeNode* node = fs->Find(path);
            return node && node->kind == FakeNode::Kind::kFolder;
        };
        services.enableBackupPrivilege = [this] {
            ++privilegeCalls;
            return false;
        };
        services.pathProblem = [this](const std::string& path) {
            return fs->Find(path) ? "" : "no such file or folder";
        };
        services.now = [this] { return clock; };
        services.walkThreads = 1;
    }

    // Stops the scan's walk when it reaches `path` for the `visit`th time, until Release.
    void HoldAt(const std::string& path, int visit = 1) {
        fs->onEntry = [this, path, visit, seen = 0](const std::string& entry) mutable {
            if (entry == path && ++seen == visit) {
                std::unique_lock guard(gateLock);
                reached = true;
                gateChanged.notify_all();
                gateChanged.wait(guard, [&] { return released; });
            }
        };
    }
    void WaitUntilHeld() {
        std::unique_lock guard(gateLock);
        ASSERT_TRUE(gateChanged.wait_for(guard, std::chrono::seconds(5), [&] { return reached; }));
    }
    void Release() {
        {
            std::lock_guard guard(gateLock);
            released = true;
        }
        gateChanged.notify_all();
    }

    using FakeNode = testing::FakeNode;

    // Waits until the active scan has ended, then applies its output as the UI thread would.
    void Finish(MainFormLogic& logic) {
        for (int i = 0; i < 5000 && !(logic.ActiveScan() && logic.ActiveScan()->Finished()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(logic.ActiveScan()->Finished());
        logic.ApplyScanOutput();
    }

    std::shared_ptr<FakeFileSystem> fs = std::make_shared<FakeFileSystem>();
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    MainFormServices services;
    FakeView view;
    int privilegeCalls = 0;
    std::chrono::steady_clock::time_point clock =
        std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool reached = false;
    bool released = false;
};

const std::string kFinished = "fakefs (supports file based compression) \u2014 ";

TEST_F(MainFormLogicTest, StartWithAFolderScansItShowsThePathAndTheVolumeLine) {
    MainFormLogic logic(view, services);
    logic.FormShow({P("/a")});
    EXPECT_EQ(privilegeCalls, 1);
    EXPECT_EQ(view.pickerRuns, 0);
    EXPECT_EQ(view.sortColumn, -1);
    EXPECT_EQ(logic.CurrentFolder(), P("/a/"));
    EXPECT_EQ(view.caption, "Packmeter - " + P("/a/"));
    EXPECT_EQ(view.path, P("/a/"));
    EXPECT_EQ(view.status, "File System: fakefs    (Supports file based compression)");
    EXPECT_EQ(view.totals, "Calculating ...|Calculating ...|");
    clock += std::chrono::milliseconds(1234);
    Finish(logic);
    // Done: the volume again, with what was listed and how long it took.
    EXPECT_EQ(view.status, kFinished + "3 entries in 1.2 s");
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, kFinished + "3 entries in 1.2 s");
    EXPECT_EQ(view.notice, "");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"sub", "one.txt", "two.bin"}));
    EXPECT_EQ(view.rows[0].keys.StateIndex(), kStatePartly + kFolderFlag);
    EXPECT_EQ(view.rows[2].keys.StateIndex(), kStateCompressed);
    EXPECT_EQ(view.totals, "14,336 Bytes|11,264 Bytes|21 %");
    EXPECT_EQ(view.busyLog, (std::vector<bool>{true, false}));
}

TEST_F(MainFormLogicTest, StartWithoutArgumentsRunsThePickerAndCancelLeavesEverything) {
    MainFormLogic logic(view, services);
    logic.FormShow({});
    EXPECT_EQ(view.pickerRuns, 1);
    EXPECT_EQ(logic.ActiveScan(), nullptr);
    EXPECT_EQ(logic.CurrentFolder(), "");
    EXPECT_EQ(view.clears, 0);
    EXPECT_EQ(view.caption, "");
    // Not "Calculating ..." for ever: the header says that no folder was chosen.
    EXPECT_EQ(view.notice, kNoFolderText);
    // Refresh before any scan does nothing either.
    logic.RefreshActionExecute();
    EXPECT_EQ(logic.ActiveScan(), nullptr);
}

TEST_F(MainFormLogicTest, EmptyFirstArgumentNeitherScansNorOpensThePicker) {
    MainFormLogic logic(view, services);
    logic.FormShow({"", P("/a")});
    EXPECT_EQ(view.pickerRuns, 0);
    EXPECT_EQ(logic.ActiveScan(), nullptr);
    EXPECT_EQ(view.notice, kNoFolderText);
}

TEST_F(MainFormLogicTest, PickerChoiceIsScannedAndAnEmptyChoiceIsNot) {
    MainFormLogic logic(view, services);
    view.pickerAnswer = P("/b");
    logic.ScanActionExecute();
    EXPECT_EQ(view.pickerStart, "");
    EXPECT_EQ(logic.CurrentFolder(), P("/b/"));
    Finish(logic);
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"only.txt"}));
    view.pickerAnswer = "";
    logic.ScanActionExecute();
    // The picker opens at the folder shown.
    EXPECT_EQ(view.pickerStart, P("/b/"));
    EXPECT_EQ(logic.CurrentFolder(), P("/b/"));
}

TEST_F(MainFormLogicTest, SecondScanWhileTheFirstRunsLeavesNothingOfTheFirst) {
    // The first scan stops inside its file pass, after handing over rows, until released.
    std::mutex lock;
    std::condition_variable changed;
    bool reached = false;
    bool release = false;
    fs->onEntry = [&](const std::string& path) {
        if (path == P("/a/two.bin")) {
            std::unique_lock guard(lock);
            reached = true;
            changed.notify_all();
            changed.wait(guard, [&] { return release; });
        }
    };
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/a"));
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(5), [&] { return reached; }));
    }
    const TScan* first = logic.ActiveScan();
    logic.ScanFolder(P("/b"));
    EXPECT_TRUE(first->Terminated());
    EXPECT_EQ(logic.ScanObjects(), 2u);
    {
        std::lock_guard guard(lock);
        release = true;
    }
    changed.notify_all();
    Finish(logic);
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"only.txt"}));
    EXPECT_EQ(view.totals, "1,024 Bytes|1,024 Bytes|0 %");
    // The stopped scan is released at the next tick once it has ended.
    for (int i = 0; i < 5000 && logic.ScanObjects() > 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        logic.UpdateStatusTimerTimer();
    }
    EXPECT_EQ(logic.ScanObjects(), 1u);
}

TEST_F(MainFormLogicTest, FinishedScanIsReplacedWithoutWaiting) {
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/b"));
    Finish(logic);
    EXPECT_EQ(view.totals, "1,024 Bytes|1,024 Bytes|0 %");
    logic.RefreshActionExecute();
    EXPECT_EQ(view.clears, 2);
    // Never the totals of the scan before.
    EXPECT_EQ(view.totals, "Calculating ...|Calculating ...|");
    Finish(logic);
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"only.txt"}));
    EXPECT_EQ(view.totals, "1,024 Bytes|1,024 Bytes|0 %");
    // A finished scan whose last batch is still queued is stopped too, also when the next
    // folder cannot be read: no row and no totals of the folder before under its message.
    logic.ScanFolder(P("/a"));
    while (!logic.ActiveScan()->Finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    logic.ScanFolder(P("/missing"));
    logic.ApplyScanOutput();
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(view.totals, "Calculating ...|Calculating ...|");
    EXPECT_EQ(view.notice, "Cannot read " + P("/missing/") + ": no such file or folder");
}

TEST_F(MainFormLogicTest, StatusShowsTheVolumeLineThenTheNoticeThenTheFinishedLine) {
    fs->volume.notice = "Compressed sizes need root";
    MainFormLogic logic(view, services);
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, "");
    logic.ScanFolder(P("/a"));
    Finish(logic);
    EXPECT_EQ(view.status, "File System: fakefs    (Supports file based compression)");
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, "Compressed sizes need root");
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, kFinished + "3 entries in 0.0 s");
}

TEST_F(MainFormLogicTest, StatusOfAVolumeThatCannotBeReadOrCompress) {
    fs->volume = VolumeInfo{};
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/b"));
    EXPECT_EQ(view.status, "File System:     (Doesn't support file based compression!!)");
    Finish(logic);
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(
        view.status,
        "Unknown file system (doesn't support file based compression) \u2014 1 entry in 0.0 s");
}

TEST_F(MainFormLogicTest, CtrlWithAnyModifiersAndAKeySelectsAllRows) {
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/a"));
    Finish(logic);
    EXPECT_FALSE(logic.FormKeyDown('A', false));
    EXPECT_TRUE(view.selected.empty());
    EXPECT_FALSE(logic.FormKeyDown('B', true));
    EXPECT_TRUE(view.selected.empty());
    EXPECT_FALSE(logic.FormKeyDown('A', true));
    EXPECT_EQ(view.selected.size(), 3u);
}

TEST_F(MainFormLogicTest, DoubleClickStartsAnInstanceForAFolderAndOpensAFile) {
    MainFormLogic logic(view, services);
    logic.ListDblClick();
    logic.ScanFolder(P("/a"));
    Finish(logic);
    logic.ListDblClick();
    EXPECT_TRUE(launcher->log.empty());
    view.selected = {1, 0};
    logic.ListDblClick();
    view.selected = {2};
    logic.ListDblClick();
    // A folder removed after the scan goes to the desktop as a document.
    fs->Root().Child("a")->children.erase(fs->Root().Child("a")->children.begin());
    view.selected = {0};
    logic.ListDblClick();
    EXPECT_EQ(launcher->log,
              (std::vector<std::string>{"open " + P("/a/one.txt"), "open " + P("/a/two.bin"),
                                        "open " + P("/a/sub")}));
    fs->Root().Child("a")->Folder("sub");
    logic.ListDblClick();
    EXPECT_EQ(launcher->log.back(), "instance " + P("/a/sub"));
}

TEST_F(MainFormLogicTest, AfterShutdownNothingReachesTheView) {
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/a"));
    logic.Shutdown();
    for (int i = 0; i < 5000 && !logic.ActiveScan()->Finished(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    logic.ApplyScanOutput();
    logic.ScanFolder(P("/b"));
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(view.totals, "Calculating ...|Calculating ...|");
    EXPECT_EQ(logic.CurrentFolder(), P("/a/"));
}

TEST_F(MainFormLogicTest, ScanOutputArrivesInBatchesAtLeastTheIntervalApart) {
    auto clock = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    services.now = [&] { return clock; };
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/b"));
    for (int i = 0; i < 5000 && !logic.ActiveScan()->Finished(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The first wake applies at once.
    EXPECT_EQ(logic.ScheduleApply(), std::nullopt);
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"only.txt"}));
    // The next waits out the interval through one timer, however many wakes come meanwhile.
    clock += std::chrono::milliseconds(10);
    EXPECT_EQ(logic.ScheduleApply(), kApplyInterval - std::chrono::milliseconds(10));
    EXPECT_EQ(logic.ScheduleApply(), std::nullopt);
    clock += std::chrono::milliseconds(30);
    logic.ApplyScanOutput();
    clock += std::chrono::milliseconds(39);
    EXPECT_EQ(logic.ScheduleApply(), std::chrono::milliseconds(1));
    logic.ApplyScanOutput();
    clock += kApplyInterval;
    EXPECT_EQ(logic.ScheduleApply(), std::nullopt);
    EXPECT_EQ(view.batches, 1);
}

// A batch that outlasts its time budget stops there; the rest follows after a short pause, in
// order, and nothing is lost.
TEST_F(MainFormLogicTest, ABatchStopsAtItsBudgetAndTheRestFollowsInOrder) {
    auto& many = fs->Root().Folder("many");
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i) {
        names.push_back("f" + std::to_string(10000 + i));
        many.File(names.back(), 1);
    }
    // Every reading of the clock takes 5 ms.
    services.now = [this] { return clock += std::chrono::milliseconds(5); };
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/many"));
    for (int i = 0; i < 5000 && !logic.ActiveScan()->Finished(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(logic.ActiveScan()->Finished());
    logic.ApplyScanOutput();
    EXPECT_GT(view.rows.size(), 0u);
    EXPECT_LT(view.rows.size(), names.size());
    for (int turn = 0; turn < 100 && view.rows.size() < names.size(); ++turn) {
        EXPECT_EQ(logic.ScheduleApply(), kApplyRestPause);
        EXPECT_EQ(logic.ScheduleApply(), std::nullopt);  // the one timer is running
        logic.ApplyScanOutput();
    }
    EXPECT_EQ(view.Captions(), names);
    EXPECT_NE(view.status.find("2,000 entries"), std::string::npos) << view.status;
}

TEST_F(MainFormLogicTest, WhatTheScanCouldNotReadStaysInTheStatusLineAndTheRows) {
    auto& d = fs->Root().Folder("d");
    d.Folder("open").Folder("closed").unreadable = true;
    d.File("f", 1);
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/d"));
    Finish(logic);
    const std::string notice =
        kFinished + "2 entries in 0.0 s \u2014 1 entry could not be read; the sizes leave it out";
    EXPECT_EQ(view.status, notice);
    logic.UpdateStatusTimerTimer();
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, notice);
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_TRUE(view.rows[0].keys.incomplete);
    EXPECT_FALSE(view.rows[0].hint.empty());
    EXPECT_FALSE(view.rows[1].keys.incomplete);
    // A new scan starts without it.
    d.Child("open")->Child("closed")->unreadable = false;
    logic.RefreshActionExecute();
    Finish(logic);
    logic.UpdateStatusTimerTimer();
    EXPECT_NE(view.status, notice);
}

TEST_F(MainFormLogicTest, NamesAndPathsAreShownAsDisplayText) {
    fs->Root().Folder("bad\xff").Folder("sub\xfe").File("f\xfd", 1);
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/bad\xff"));
    Finish(logic);
    EXPECT_EQ(logic.CurrentFolder(), P("/bad\xff/"));
    // The path label and the caption show undecodable bytes and control characters as escapes.
    EXPECT_EQ(view.path, P("/bad\\xff/"));
    EXPECT_EQ(view.caption, "Packmeter - " + P("/bad\\xff/"));
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"sub\xef\xbf\xbd"}));
    EXPECT_EQ(view.rows[0].data, "sub\xfe");
    // While it walks, the status line shows undecodable bytes and control characters visibly.
    HoldAt(P("/bad\xff/sub\xfe/f\xfd"));
    logic.RefreshActionExecute();
    WaitUntilHeld();
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, P("/bad\\xff/sub\\xfe/"));
    Release();
    Finish(logic);
    fs->Root().Folder("t\x1b]0;T\x07");
    logic.ScanFolder(P("/t\x1b]0;T\x07"));
    Finish(logic);
    EXPECT_EQ(view.path, P("/t\\x1b]0;T\\x07/"));
    EXPECT_EQ(view.caption, "Packmeter - " + P("/t\\x1b]0;T\\x07/"));
}

TEST_F(MainFormLogicTest, ADocumentThatDidNotOpenStaysSaidUntilTheNextAction) {
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/a"));
    Finish(logic);
    logic.DocumentNotOpened(P("/a/one.txt"), "no application could open it");
    const std::string said = "Cannot open one.txt: no application could open it";
    for (int tick = 0; tick < 3; ++tick) {
        logic.UpdateStatusTimerTimer();
        EXPECT_EQ(view.status, said);
    }
    // The next action (here a key) ends it; the status line goes back to the scan's outcome.
    logic.KeyCommand(DesktopKey::kRefresh);
    Finish(logic);
    logic.UpdateStatusTimerTimer();
    EXPECT_NE(view.status, said);
}

TEST_F(MainFormLogicTest, FolderThatCannotBeScannedSaysWhyInsteadOfLookingEmpty) {
    fs->Root().Folder("locked").unreadable = true;
    const struct {
        std::string path;
        bool fromCommandLine;
        std::string error;
    } cases[] = {
        {P("/nope"), true, "Cannot read " + P("/nope/") + ": no such file or folder"},
        {P("/locked"), false, "Cannot read " + P("/locked/") + ": permission denied"},
        {P("/a/one.txt"), true, "Cannot read " + P("/a/one.txt/") + ": not a folder"},
    };
    for (const auto& c : cases) {
        FakeView shown;
        shown.pickerAnswer = c.path;
        MainFormLogic logic(shown, services);
        logic.FormShow(c.fromCommandLine ? std::vector<std::string>{c.path}
                                         : std::vector<std::string>{});
        EXPECT_EQ(shown.notice, c.error);
        EXPECT_EQ(shown.status, c.error);
        EXPECT_EQ(shown.messages, std::vector<std::string>{c.error});
        EXPECT_TRUE(shown.rows.empty());
        EXPECT_EQ(shown.totals, "");
        logic.UpdateStatusTimerTimer();
        EXPECT_EQ(shown.status, c.error);
    }
    // Refreshing a folder that has gone away says so in the window, without a message box.
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/b"));
    Finish(logic);
    fs->Root().children.pop_back();  // "locked"
    fs->Root().Child("b")->unreadable = true;
    logic.RefreshActionExecute();
    EXPECT_EQ(view.notice, "Cannot read " + P("/b/") + ": permission denied");
    EXPECT_TRUE(view.rows.empty());
    EXPECT_TRUE(view.messages.empty());
    // Nothing runs, so Escape has nothing to stop.
    EXPECT_FALSE(logic.Scanning());
    logic.KeyCommand(DesktopKey::kStop);
    EXPECT_EQ(view.notice, "Cannot read " + P("/b/") + ": permission denied");
    // A folder that can be read again shows its totals again.
    fs->Root().Child("b")->unreadable = false;
    logic.RefreshActionExecute();
    EXPECT_EQ(view.notice, "");
    Finish(logic);
    EXPECT_EQ(view.totals, "1,024 Bytes|1,024 Bytes|0 %");
}

TEST_F(MainFormLogicTest, EscapeStopsARunningScanAndTheWindowSaysSo) {
    // In the file pass, the second listing of the folder.
    HoldAt(P("/a/two.bin"), 2);
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/a"));
    WaitUntilHeld();
    logic.ApplyScanOutput();
    EXPECT_TRUE(logic.Scanning());
    clock += std::chrono::milliseconds(500);
    logic.KeyCommand(DesktopKey::kStop);
    EXPECT_FALSE(logic.Scanning());
    EXPECT_TRUE(logic.ActiveScan()->Terminated());
    EXPECT_EQ(view.busyLog.back(), false);
    EXPECT_EQ(view.notice, kStoppedText);
    const std::string stopped = kFinished + "stopped after 2 entries in 0.5 s";
    EXPECT_EQ(view.status, stopped);
    Release();
    Finish(logic);
    logic.UpdateStatusTimerTimer();
    EXPECT_EQ(view.status, stopped);
    EXPECT_EQ(view.Captions(), (std::vector<std::string>{"sub", "one.txt"}));
    EXPECT_EQ(view.totals, "Calculating ...|Calculating ...|");
    // Escape with nothing running changes nothing.
    logic.RefreshActionExecute();
    Finish(logic);
    logic.KeyCommand(DesktopKey::kStop);
    EXPECT_EQ(view.notice, "");
}

TEST_F(MainFormLogicTest, DesktopKeysOpenRefreshCopyAndGoUp) {
    MainFormLogic logic(view, services);
    logic.ScanFolder(P("/a"));
    Finish(logic);
    // Ctrl+C: every row when none is selected, else the selected ones.
    logic.KeyCommand(DesktopKey::kCopy);
    const std::string heading = "Name\tSize\tCompresed\tRatio\r\n";
    EXPECT_EQ(view.clipboard, heading +
                                  "sub\t8 KB\t5 KB\t38 %\r\none.txt\t2 KB\t2 KB\t0 %\r\n"
                                  "two.bin\t4 KB\t4 KB\t0 %\r\n");
    view.selected = {2};
    logic.KeyCommand(DesktopKey::kCopy);
    EXPECT_EQ(view.clipboard, heading + "two.bin\t4 KB\t4 KB\t0 %\r\n");
    // Enter opens as a double-click does; Backspace opens the parent in a new window.
    logic.KeyCommand(DesktopKey::kOpen);
    logic.KeyCommand(DesktopKey::kParent);
    EXPECT_EQ(launcher->log,
              (std::vector<std::string>{"open " + P("/a/two.bin"), "instance " + P("/")}));
    // A file that nothing opens says so.
    launcher->answer = "no application is set to open it";
    logic.KeyCommand(DesktopKey::kOpen);
    EXPECT_EQ(view.status, "Cannot open two.bin: no application is set to open it");
    logic.KeyCommand(DesktopKey::kRefresh);
    EXPECT_EQ(view.clears, 2);
    Finish(logic);
    const struct {
        std::string folder;
        std::string parent;
    } parents[] = {
        {P("/a/b/"), P("/a")},
        {P("/a/"), P("/")},
        {P("/"), ""},
        {"C:\\", ""},
    };
    for (const auto& p : parents) {
        EXPECT_EQ(ParentFolder(p.folder), p.parent) << p.folder;
    }
}

TEST(WorkerChannelTest, WakesOncePerBatchAndNotAfterDetaching) {
    WorkerChannel channel;
    int wakes = 0;
    channel.SetWake([&] { ++wakes; });
    auto stop = std::make_shared<StopFlag>(false);
    channel.Push({true, stop});
    channel.Push({EntryRow{}, stop});
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(channel.Take().size(), 2u);
    channel.Push({false, stop});
    EXPECT_EQ(wakes, 2);
    channel.SetWake({});
    channel.Take();
    channel.Push({false, stop});
    EXPECT_EQ(wakes, 2);
    // A window that attaches finds what is waiting.
    channel.SetWake([&] { ++wakes; });
    EXPECT_EQ(wakes, 3);
    auto events = channel.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].Stopped());
    stop->store(true);
    EXPECT_TRUE(events[0].Stopped());
}

}  // namespace
}  // namespace packmeter
