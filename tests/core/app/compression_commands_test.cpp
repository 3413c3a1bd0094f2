#include "core/app/compression_commands.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "core/app/main_form_logic.hpp"
#include "core/shell/shell_browser.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter {
namespace {

using testing::FakeFileSystem;
using testing::P;

// The window as the commands see it: rows, a selection, the status line and a log.
class FakeWindow : public MainFormView, public CommandView {
  public:
    void SetCaption(const std::string&) override {}
    void SetPathText(const std::string&) override {}
    void SetStatusText(const std::string& text) override { status = text; }
    void SetTotals(const ScanTotals& shown) override { totals = shown; }
    void SetHeaderNotice(const std::string&) override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void SetBusyCursor(bool) override {}
    void ClearList() override {
        rows.clear();
        selected.clear();
    }
    void AddItems(std::vector<ListItem> items) override {
        for (auto& item : items) {
            rows.push_back(std::move(item));
        }
    }
    void SelectAllItems() override {}
    const ListItem* FirstSelectedItem() const override {
        return selected.empty() ? nullptr : &rows.at(selected.front());
    }
    std::vector<const ListItem*> ItemsInOrder(bool selectedOnly) const override {
        std::vector<const ListItem*> out;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!selectedOnly || std::find(selected.begin(), selected.end(), i) != selected.end()) {
                out.push_back(&rows[i]);
            }
        }
        return out;
    }
    void CopyToClipboard(const std::string&) override {}
    bool BrowseForFolder(std::string&) override { return false; }
    void SetSortColumn(int) override {}

    void Beep() override { ++beeps; }
    std::string StatusText() const override { return status; }
    // Logs the names of the rows it found.
    void UpdateItem(const std::string& name, const ListItem& item) override {
        for (ListItem& row : rows) {
            if (row.RawName() == name) {
                updated.push_back(name);
                TakeFigures(row, item);
            }
        }
    }
    void ClearSelection() override { selected.clear(); }
    void SetCommandProgress(const CommandProgress& shown) override { progress = shown; }
    void SetCommandFailures(const std::vector<CompressionFailure>& list) override {
        failures = list;
    }
    bool AskStopCommand(const std::string& question) override {
        messages.push_back(question);
        return answerStop;
    }

    void Select(const std::vector<std::string>& names) {
        selected.clear();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (std::find(names.begin(), names.end(), rows[i].RawName()) != names.end()) {
                selected.push_back(i);
            }
        }
    }
    const ListItem& Row(const std::string& name) const {
        return *std::find_if(rows.begin(), rows.end(),
                             [&](const ListItem& row) { return row.RawName() == name; });
    }

    std::string status;
    std::vector<std::string> messages;
    std::vector<ListItem> rows;
    std::vector<std::size_t> selected;
    int beeps = 0;
    std::vector<std::string> updated;
    CommandProgress progress;
    std::vector<CompressionFailure> failures;
    bool answerStop = false;
    ScanTotals totals;
};

// A shell of plain folders: every path binds, an object is its name, and the context menu
// records what it was made for and chooses the program item named in `choose`.
struct FakeShell : ShellSpace {
    struct Object : ShellObject {
        explicit Object(std::string n) : name(std::move(n)) {}
        std::string name;
    };
    struct Menu : ShellContextMenu {
        Menu(FakeShell& s, std::vector<std::string> o) : shell(s), objects(std::move(o)) {}
        bool Build(const std::vector<MenuItem>& items, bool) override {
            shell.shown.clear();
            for (const MenuItem& item : items) {
                if (item.Visible) {
                    shell.shown.push_back(item.Caption);
                }
                if (item.Caption == shell.choose) {
                    chosen = item.Command;
                }
            }
            shell.objects = objects;
            return true;
        }
        unsigned Track(ScreenPoint) override {
            return shell.verb.empty() ? chosen : kFirstShellCommand;
        }
        std::string Verb(unsigned) override { return shell.verb; }
        // The shell's own command: carried out by the test's hook.
        bool Invoke(unsigned) override { return shell.invoke && shell.invoke(objects); }
        FakeShell& shell;
        std::vector<std::string> objects;
        unsigned chosen = 0;
    };
    struct Folder : ShellFolder {
        Folder(FakeShell& s, std::string p) : shell(s), path(std::move(p)) {}
        std::string Path() const override { return path; }
        std::pair<std::shared_ptr<ShellFolder>, ShellObjectPtr> AsObjectInParent() const override {
            std::string bare = path.substr(0, path.size() - 1);
            const auto cut = bare.find_last_of(kPathSeparator);
            return {std::make_shared<Folder>(shell, bare.substr(0, cut + 1)),
                    std::make_shared<Object>(bare.substr(cut + 1))};
        }
        ShellObjectPtr ParseName(const std::string& name) const override {
            return std::make_shared<Object>(path + name);
        }
        std::unique_ptr<ShellEnumeration> Enumerate(bool) const override { return nullptr; }
        std::string ObjectName(const ShellObject& o) const override {
            return static_cast<const Object&>(o).name;
        }
        std::string DisplayName(const ShellObject& o) const override { return ObjectName(o); }
        std::optional<std::uint32_t> Attributes(const ShellObject&, std::uint32_t) const override {
            return 0;
        }
        TQelShellFolder SpecialFolder(const ShellObject*) const override { return {}; }
        std::unique_ptr<ShellContextMenu> ContextMenu(const std::vector<ShellObjectPtr>& list,
                                                      bool) override {
            std::vector<std::string> names;
            for (const auto& object : list) {
                names.push_back(static_cast<const Object&>(*object).name);
            }
            // The folder's path goes first, so a test sees where the objects lie.
            names.insert(names.begin(), path);
            return std::make_unique<Menu>(shell, std::move(names));
        }
        FakeShell& shell;
        std::string path;
    };

    FolderBinding BindFolder(const std::string& path, bool) override {
        return {true, std::make_shared<Folder>(*this, path)};
    }
    bool ObjectExists(const std::string& path) const override { return !exists || exists(path); }
    bool SamePath(const std::string& a, const std::string& b) const override { return a == b; }
    std::pair<std::string, std::string> SplitPath(const std::string& path) const override {
        const auto cut = path.find_last_of(kPathSeparator);
        return {path.substr(0, cut + 1), path.substr(cut + 1)};
    }
    bool IsRootPath(const std::string& path) const override { return path == P("/"); }
    bool HasSeparator(const std::string& name) const override {
        return name.find(kPathSeparator) != std::string::npos;
    }

    std::string choose;
    std::string verb;  // a shell command chosen instead of a program item
    std::function<bool(const std::vector<std::string>& objects)> invoke;
    std::function<bool(const std::string& path)> exists;
    std::vector<std::string> shown;
    std::vector<std::string> objects;
};

class CompressionCommandsTest : public ::testing::Test {
  protected:
    CompressionCommandsTest() {
        auto& d = fs->Root().Folder("d");
        auto& tree = d.Folder("tree");
        tree.File("a", 4096).Folder("sub").File("b", 8192);
        d.Folder("partly").File("p", 8192, 4096);
        d.File("f1", 2048).File("f2", 1000, 1000).File("z", 4096, 1024, attr::kCompressed);
        d.File("locked", 10).File("y", 100);
        services.fileSystem = fs;
        services.walkThreads = 1;
        logic = std::make_unique<MainFormLogic>(window, services);
        logic->SetCommandView(&window);
        logic->ScanFolder(P("/d"));
        while (!logic->ActiveScan()->Finished()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        logic->ApplyScanOutput();
    }

    // Applies the channel's output as the UI thread would until the command has ended and the
    // totals measured after it have arrived.
    void Finish() {
        for (int i = 0; i < 5000 && logic->CommandRunning(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            logic->ApplyScanOutput();
        }
        ASSERT_FALSE(logic->CommandRunning());
        WaitForScan();
    }
    void WaitForScan() {
        while (logic->ActiveScan() && !logic->ActiveScan()->Finished()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        logic->ApplyScanOutput();
    }

    // Holds the worker when a listing reaches `path` for the `visit`th time, until Release.
    void HoldAt(const std::string& path, int visit) {
        seen = 0;
        fs->onEntry = [this, path, visit](const std::string& entry) {
            if (entry == path && ++seen == visit) {
                std::unique_lock guard(gateLock);
                reached = true;
                gate.notify_all();
                gate.wait(guard, [&] { return released; });
            }
        };
    }
    void WaitUntilHeld() {
        std::unique_lock guard(gateLock);
        ASSERT_TRUE(gate.wait_for(guard, std::chrono::seconds(5), [&] { return reached; }));
    }
    void Release() {
        std::lock_guard guard(gateLock);
        released = true;
        gate.notify_all();
    }

    std::shared_ptr<FakeFileSystem> fs = std::make_shared<FakeFileSystem>();
    MainFormServices services;
    FakeWindow window;
    std::unique_ptr<MainFormLogic> logic;
    std::mutex gateLock;
    std::condition_variable gate;
    bool reached = false;
    bool released = false;
    std::atomic<int> seen{0};
};

TEST_F(CompressionCommandsTest, PopupItemsFollowTheSingleSelectedRowAndObjectsKeepListOrder) {
    const auto shell = std::make_shared<FakeShell>();
    TShellBrowser browser{shell};
    const std::string d = P("/d/");
    // The window parts of "Compress with..." and the estimate; without them those items hide.
    logic->Commands().onCompressWith = [](const std::string&, std::vector<std::string>) {};
    logic->Commands().SetEstimateServices(
        [](const CompressionChoice&) { return std::unique_ptr<ChunkCompressor>(); }, nullptr);
    struct Case {
        std::vector<std::string> selected;
        std::vector<std::string> shown;    // the visible program items
        std::vector<std::string> objects;  // the menu's folder, then its objects
    };
    // In sequence: with several rows or none the items keep what the last single row set.
    // "Compress with..." goes with "&COMPRESS"; the estimate is always offered.
    const std::string c = "&COMPRESS", w = "Compress &with...", e = "&Estimate saving...",
                      u = "&DECOMPRESS";
    const std::vector<Case> cases = {
        {{}, {c, w, e, u}, {P("/"), "d"}},
        {{"f1"}, {c, w, e}, {d, d + "f1"}},
        {{"z"}, {e, u}, {d, d + "z"}},
        {{"z", "f1", "partly"}, {e, u}, {d, d + "partly", d + "f1", d + "z"}},
        {{"partly"}, {c, w, e, u}, {d, d + "partly"}},
        {{"z"}, {e, u}, {d, d + "z"}},
        {{}, {e, u}, {P("/"), "d"}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        window.Select(cases[i].selected);
        EXPECT_TRUE(logic->ListContextPopup(browser, 10, 20));
        EXPECT_EQ(shell->shown, cases[i].shown) << "case " << i;
        EXPECT_EQ(shell->objects, cases[i].objects) << "case " << i;
        EXPECT_TRUE(browser.MultiObjects().empty());
    }
}

// The program's own Rename and Move to Trash change the rows: the folder is measured again, so
// that no row names an entry that has gone.
TEST_F(CompressionCommandsTest, RowsFollowTheShellsRenameAndDeleteOfTheirEntries) {
    const auto shell = std::make_shared<FakeShell>();
    TShellBrowser browser{shell};
    const auto names = [&] {
        std::vector<std::string> out;
        for (const ListItem& row : window.rows) {
            out.push_back(row.caption);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto& d = *fs->Root().Child("d");
    const auto remove = [&](const std::string& name) {
        auto& children = fs->Root().Child("d")->children;
        std::erase_if(children, [&](const auto& node) { return node->name == name; });
    };
    const struct {
        std::string verb;
        std::function<void()> change;
        std::string gone, added;
    } cases[] = {
        {"delete", [&] { remove("f1"); }, "f1", ""},
        {"rename",
         [&] {
             remove("f2");
             fs->Root().Child("d")->File("f2 renamed", 1000);
         },
         "f2", "f2 renamed"},
    };
    shell->exists = [&](const std::string& path) { return fs->Find(path) != nullptr; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verb);
        window.Select({c.gone});
        shell->verb = c.verb;
        shell->invoke = [&](const std::vector<std::string>&) {
            c.change();
            return true;
        };
        EXPECT_TRUE(logic->ListContextPopup(browser, 0, 0));
        WaitForScan();
        const std::vector<std::string> shown = names();
        EXPECT_EQ(std::count(shown.begin(), shown.end(), c.gone), 0);
        if (!c.added.empty()) {
            EXPECT_EQ(std::count(shown.begin(), shown.end(), c.added), 1);
        }
    }
    EXPECT_EQ(window.rows.size(), d.children.size());
}

// The path label's menu is the shown folder's own: its COMPRESS switches the folder's whole
// tree with progress, counts and every row updated in place, and the header's totals are
// measured again under the rows that stay.
TEST_F(CompressionCommandsTest, ThePathLabelsCommandSwitchesTheShownFolderAndItsTotals) {
    const auto shell = std::make_shared<FakeShell>();
    TShellBrowser browser{shell};
    const std::int64_t onDiskBefore = window.totals.onDisk;
    const std::size_t rowsBefore = window.rows.size();
    window.Select({"f1"});
    shell->choose = "&COMPRESS";
    fs->Find(P("/d/y"))->failSwitch = true;
    fs->Find(P("/d/f1"))->onDisk = 48;  // what the switch will have saved
    logic->PathLabelMouseUp(browser, 0, 0);
    EXPECT_TRUE(window.selected.empty());
    EXPECT_EQ(shell->objects, (std::vector<std::string>{P("/"), "d"}));
    Finish();
    // The folder first, then its files and folders; "y" refuses, and the tree goes on.
    ASSERT_FALSE(fs->switches.empty());
    EXPECT_EQ(fs->switches.front(), P("+/d/"));
    EXPECT_EQ(fs->switches.back(), P("+/d/locked"));
    EXPECT_EQ(window.status,
              "Compressing " + P("/d/") + " ... Finished \u2014 1 entry could not be switched");
    EXPECT_EQ(window.updated.size(), rowsBefore - 1);
    EXPECT_EQ(window.Row("f1").keys.state, CompressionState::kCompressed);
    EXPECT_EQ(window.Row("tree").keys.state, CompressionState::kCompressed);
    EXPECT_EQ(window.Row("y").keys.state, CompressionState::kPlain);
    EXPECT_EQ(window.progress.entriesDone, window.progress.entriesTotal);
    EXPECT_EQ(window.rows.size(), rowsBefore);
    EXPECT_EQ(window.totals.onDisk, onDiskBefore - 2000);
}

TEST_F(CompressionCommandsTest, CommandsEndWithFinishedOrStopAtTheFirstFailingFile) {
    const std::string d = P("/d/");
    struct Case {
        std::vector<std::string> selected;
        int tag;
        std::vector<std::string> failing;  // nodes that refuse to switch
        std::string status;
        std::vector<std::string> updated;
        int beeps;
        bool selectionKept;
        std::size_t failures;
    };
    const std::vector<Case> cases = {
        // A folder and two files: all three rows, the line of the last one, then "Finished".
        {{"tree", "f1", "f2"},
         1,
         {},
         "Compressing " + d + "f2 ... Finished",
         {"tree", "f1", "f2"},
         0,
         false,
         0},
        // The first file that cannot be switched: one beep, the rows after it untouched, its
        // line kept without "Finished", the selection kept.
        {{"f1", "locked", "y"},
         -1,
         {"/d/locked"},
         "Decompressing " + d + "locked ... ",
         {"f1"},
         1,
         true,
         1},
        // Entries inside a tree that cannot be switched are counted; the tree goes on.
        {{"tree", "f2"},
         -1,
         {"/d/tree", "/d/tree/a"},
         "Decompressing " + d + "f2 ... Finished \u2014 2 entries could not be switched",
         {"tree", "f2"},
         0,
         false,
         2},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        for (const std::string& path : c.failing) {
            fs->Find(P(path))->failSwitch = true;
        }
        window.updated.clear();
        window.beeps = 0;
        window.Select(c.selected);
        logic->DecompressMenuItemClick(c.tag);
        Finish();
        EXPECT_EQ(window.status, c.status) << "case " << i;
        EXPECT_EQ(window.updated, c.updated) << "case " << i;
        EXPECT_EQ(window.beeps, c.beeps) << "case " << i;
        EXPECT_EQ(!window.selected.empty(), c.selectionKept) << "case " << i;
        EXPECT_EQ(window.failures.size(), c.failures) << "case " << i;
        EXPECT_EQ(logic->Commands().Failures().size(), c.failures) << "case " << i;
        EXPECT_FALSE(window.progress.running);
        if (c.beeps == 0) {
            EXPECT_EQ(window.progress.entriesDone, window.progress.entriesTotal);
            EXPECT_EQ(window.progress.bytesDone, window.progress.bytesTotal);
        }
        for (const std::string& path : c.failing) {
            fs->Find(P(path))->failSwitch = false;
        }
    }
    // Every row shows what the file system says, not what was asked for: the tree that could
    // not be decompressed is still compressed, and the tool tip names what failed.
    EXPECT_EQ(window.Row("tree").keys.state, CompressionState::kCompressed);
    EXPECT_TRUE(window.Row("tree").keys.folder);
    EXPECT_EQ(window.Row("f2").keys.state, CompressionState::kPlain);
    EXPECT_EQ(window.Row("f1").keys.state, CompressionState::kPlain);
    EXPECT_EQ(logic->Commands().FailuresText(),
              P("/d/tree/") + ": refused by the test\n" + P("/d/tree/a") + ": refused by the test");
    // The totals stay what the scan found; the caption and icon of a row stay.
    EXPECT_EQ(window.Row("tree").caption, "tree");
}

TEST_F(CompressionCommandsTest, CancelStopsBetweenFilesAndASecondCommandOrCloseWaits) {
    const std::string d = P("/d/");
    window.Select({"tree", "f1"});
    // The worker lists sub's files a second time when it switches them (the first is the
    // quick count): it is held there, after sub itself has been switched.
    HoldAt(P("/d/tree/sub/b"), 2);
    logic->DecompressMenuItemClick(1);
    WaitUntilHeld();
    ASSERT_TRUE(logic->CommandRunning());
    const CommandProgress progress = logic->Commands().Progress();
    EXPECT_FALSE(progress.counting);
    EXPECT_EQ(progress.entriesTotal, 5);  // tree, a, sub, b and f1
    EXPECT_EQ(progress.bytesTotal, 4096 + 8192 + 2048);
    EXPECT_EQ(progress.entriesDone, 3);  // tree, a and sub itself
    EXPECT_EQ(progress.bytesDone, 4096);
    // A second command is refused with a message; closing is asked first, and "no" keeps
    // the command and the window.
    logic->DecompressMenuItemClick(-1);
    EXPECT_EQ(window.messages, std::vector<std::string>{kCommandBusyText});
    EXPECT_FALSE(logic->FormCloseQuery());
    EXPECT_TRUE(logic->CommandRunning());
    // A scan meanwhile brings its rows, and its end leaves the command's line alone.
    logic->RefreshActionExecute();
    while (!logic->ActiveScan()->Finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    logic->ApplyScanOutput();
    EXPECT_EQ(window.rows.size(), 7u);
    EXPECT_EQ(window.status, "Compressing " + d + P("tree/sub/") + " ... ");
    window.Select({"tree", "f1"});
    logic->KeyCommand(DesktopKey::kStop);
    Release();
    Finish();
    // Stopped before b: nothing half done, the tree's row (the scan's new one) measured again,
    // f1 untouched.
    EXPECT_EQ(fs->switches,
              (std::vector<std::string>{P("+/d/tree/"), P("+/d/tree/a"), P("+/d/tree/sub/")}));
    EXPECT_EQ(window.updated, std::vector<std::string>{"tree"});
    // Marked, but with b still plain: partly compressed.
    EXPECT_EQ(window.Row("tree").keys.state, CompressionState::kPartly);
    EXPECT_EQ(window.status, "Compressing " + d + P("tree/sub/") + " ... Cancelled");
    EXPECT_FALSE(window.selected.empty());
    // The status timer leaves the command's line alone until the next scan.
    logic->UpdateStatusTimerTimer();
    EXPECT_EQ(window.status, "Compressing " + d + P("tree/sub/") + " ... Cancelled");

    // Closing during a command, answered "yes": cancelled, and waited for.
    reached = released = false;
    fs->switches.clear();
    window.answerStop = true;
    HoldAt(P("/d/tree/sub/b"), 2);
    logic->DecompressMenuItemClick(-1);
    WaitUntilHeld();
    std::thread releaser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Release();
    });
    EXPECT_TRUE(logic->FormCloseQuery());
    releaser.join();
    EXPECT_FALSE(logic->CommandRunning());
    EXPECT_EQ(fs->switches,
              (std::vector<std::string>{P("-/d/tree/"), P("-/d/tree/a"), P("-/d/tree/sub/")}));
}

// Rows measured by a command belong to its folder: once the user has moved on to another
// folder, a row there with the same name keeps what that folder's scan found.
TEST_F(CompressionCommandsTest, RowsOfACommandStayWithItsFolderAfterTheUserMovedOn) {
    fs->Root().Folder("e").File("f1", 2048);
    window.Select({"f1", "tree"});
    HoldAt(P("/d/tree/sub/b"), 2);
    logic->DecompressMenuItemClick(1);
    WaitUntilHeld();
    logic->ScanFolder(P("/e"));
    while (!logic->ActiveScan()->Finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    logic->ApplyScanOutput();
    Release();
    Finish();
    EXPECT_TRUE(window.updated.empty());
    EXPECT_EQ(window.Row("f1").keys.state, CompressionState::kPlain);
    EXPECT_TRUE(fs->Find(P("/d/f1"))->attributes & attr::kCompressed);
}

}  // namespace
}  // namespace packmeter
