#include "core/shell/shell_browser.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace packmeter {
namespace {

// A namespace laid out as the Windows shell shows one: the computer (path "") holds the drive
// C:\, names compare ignoring case, a file's display name hides its extension.
struct FakeShell : ShellSpace, std::enable_shared_from_this<FakeShell> {
    struct Object : ShellObject {
        explicit Object(std::string n) : name(std::move(n)) {}
        std::string name;
    };
    struct Menu;
    struct Folder : ShellFolder {
        Folder(FakeShell& s, std::string p) : shell(s), path(std::move(p)) {}
        std::string Path() const override { return path; }
        std::pair<std::shared_ptr<ShellFolder>, ShellObjectPtr> AsObjectInParent() const override {
            if (path.empty()) {
                return {std::make_shared<Folder>(shell, ""), std::make_shared<Object>("")};
            }
            if (path.size() == 3) {
                return {std::make_shared<Folder>(shell, ""), std::make_shared<Object>(path)};
            }
            auto [parent, last] = shell.SplitPath(path.substr(0, path.size() - 1));
            return {std::make_shared<Folder>(shell, parent), std::make_shared<Object>(last)};
        }
        ShellObjectPtr ParseName(const std::string& name) const override {
            const std::string key = shell.Key(path + name);
            return shell.entries.count(key) ? std::make_shared<Object>(shell.entries.at(key))
                                            : nullptr;
        }
        std::unique_ptr<ShellEnumeration> Enumerate(bool) const override {
            struct Walk : ShellEnumeration {
                std::vector<std::string> names;
                std::size_t next = 0;
                ShellObjectPtr Next() override {
                    return next < names.size() ? std::make_shared<Object>(names[next++]) : nullptr;
                }
            };
            auto walk = std::make_unique<Walk>();
            for (const auto& [key, name] : shell.entries) {
                const auto [parent, last] = shell.SplitPath(key);
                if (parent == shell.Key(path) && key.size() > 3) {
                    walk->names.push_back(name);
                }
            }
            if (path.empty()) {
                walk->names = {"C:\\"};
            }
            return walk;
        }
        std::string ObjectName(const ShellObject& object) const override {
            return static_cast<const Object&>(object).name;
        }
        std::string DisplayName(const ShellObject& object) const override {
            const std::string& name = static_cast<const Object&>(object).name;
            return name.substr(0, name.find('.'));
        }
        std::optional<std::uint32_t> Attributes(const ShellObject& object,
                                                std::uint32_t mask) const override {
            const std::string key = shell.Key(path + static_cast<const Object&>(object).name);
            std::uint32_t bits = shell.virtualKeys.count(key) ? 0u : kShellAttrFileSystem;
            if (shell.folders.count(key + "\\") || key.size() == 3) {
                bits |= kShellAttrFolder;
            }
            return bits & mask;
        }
        TQelShellFolder SpecialFolder(const ShellObject*) const override {
            return SF_FILESYSTEMFOLDER;
        }
        std::unique_ptr<ShellContextMenu> ContextMenu(const std::vector<ShellObjectPtr>& objects,
                                                      bool) override;

        FakeShell& shell;
        std::string path;
    };

    // The shell's commands: open, delete, rename, properties, with identifiers 1 to 4.
    struct Menu : ShellContextMenu {
        Menu(FakeShell& s, std::string p, std::vector<std::string> n)
            : shell(s), path(std::move(p)), names(std::move(n)) {}
        bool Build(const std::vector<MenuItem>& items, bool canRename) override {
            shell.shown = {"open", "delete", "properties"};
            if (canRename) {
                shell.shown.insert(shell.shown.begin() + 2, "rename");
            }
            shell.merged = items;
            return true;
        }
        unsigned Track(ScreenPoint point) override {
            shell.trackedAt = point;
            shell.objects = names;
            return shell.choose(*this);
        }
        std::string Verb(unsigned command) override {
            return command <= kVerbs.size() ? kVerbs[command - 1] : "";
        }
        bool Invoke(unsigned command) override {
            shell.invoked.push_back(Verb(command));
            if (Verb(command) == "delete" && shell.confirmDelete) {
                shell.entries.erase(shell.Key(path + names.front()));
            }
            // A shell may report a delete the user declined as carried out.
            return Verb(command) != "delete" || shell.confirmDelete || shell.declineReportedDone;
        }
        inline static const std::vector<std::string> kVerbs = {"open", "delete", "rename",
                                                               "properties"};
        FakeShell& shell;
        std::string path;
        std::vector<std::string> names;
    };

    FakeShell() {
        for (const char* path : {"C:\\Data\\", "C:\\Data\\Sub\\"}) {
            folders.insert(Key(path));
        }
        for (const char* path : {"C:\\Data", "C:\\Data\\a.doc", "C:\\Data\\b.TXT",
                                 "C:\\Data\\c.bin", "C:\\Data\\Quarterly.xls", "C:\\Data\\Sub"}) {
            entries[Key(path)] = SplitPath(path).second;
        }
    }
    std::string Key(std::string path) const {
        std::transform(path.begin(), path.end(), path.begin(), [](char c) {
            return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        });
        return path;
    }
    FolderBinding BindFolder(const std::string& path, bool) override {
        ++binds;
        std::string folder = path;
        if (!folder.empty() && folder.back() != '\\') {
            folder += '\\';
        }
        if (!folder.empty() && folder != "C:\\" && !folders.count(Key(folder))) {
            return {};
        }
        // The shell gives back the path as the file system spells it.
        std::string spelled = folder;
        for (const auto& [key, name] : entries) {
            if (Key(folder) == key + "\\") {
                spelled = SplitPath(folder.substr(0, folder.size() - 1)).first + name + "\\";
            }
        }
        return {true, std::make_shared<Folder>(*this, spelled)};
    }
    bool ObjectExists(const std::string& path) const override {
        return entries.count(Key(path)) > 0;
    }
    bool SamePath(const std::string& a, const std::string& b) const override {
        return Key(a) == Key(b);
    }
    std::pair<std::string, std::string> SplitPath(const std::string& path) const override {
        const std::size_t cut = path.find_last_of("\\:") + 1;
        return {path.substr(0, cut), path.substr(cut)};
    }
    bool IsRootPath(const std::string& path) const override {
        return path.size() <= 3 && path.find('\\') != std::string::npos;
    }
    bool HasSeparator(const std::string& name) const override {
        return name.find('\\') != std::string::npos;
    }

    std::set<std::string> folders;
    std::map<std::string, std::string> entries;
    int binds = 0;
    std::vector<std::string> shown;
    std::vector<MenuItem> merged;
    std::vector<std::string> objects;
    std::vector<std::string> invoked;
    ScreenPoint trackedAt;
    bool confirmDelete = true;
    bool declineReportedDone = false;
    // Objects outside the file system (no file-system attribute).
    std::set<std::string> virtualKeys;
    std::function<unsigned(Menu&)> choose = [](Menu&) { return 0u; };
};

std::unique_ptr<ShellContextMenu> FakeShell::Folder::ContextMenu(
    const std::vector<ShellObjectPtr>& objects, bool) {
    std::vector<std::string> names;
    for (const auto& object : objects) {
        names.push_back(static_cast<const Object&>(*object).name);
    }
    return std::make_unique<Menu>(shell, path, names);
}

struct ShellBrowserTest : ::testing::Test {
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    TShellBrowser browser{shell};
};

TEST_F(ShellBrowserTest, FolderAndObjectFollowTheNamespace) {
    EXPECT_EQ(browser.Folder(), "");  // a new browser sits in the computer
    EXPECT_TRUE(browser.ShowErrorMessages());
    EXPECT_EQ(TShellBrowser::Version(), "TShellBrowser V3.03");

    browser.SetFolder("C:\\Data");
    EXPECT_EQ(browser.Folder(), "C:\\Data\\");
    const int binds = shell->binds;
    browser.SetFolder("c:\\DATA\\");  // the same folder in other letter case
    EXPECT_EQ(shell->binds, binds);
    EXPECT_EQ(browser.Folder(), "C:\\Data\\");

    try {
        browser.SetFolder("C:\\Nope");
        FAIL();
    } catch (const EShellBrowserError& error) {
        EXPECT_STREQ(error.what(), "Cannot Find Folder: C:\\Nope");
    }
    EXPECT_EQ(browser.Folder(), "C:\\Data\\");

    struct Case {
        const char* write;  // nullptr: SelectFolderAsObject
        const char* folder;
        const char* object;
        const char* display;
        bool isFolder;
    };
    const Case cases[] = {
        {"a.doc", "C:\\Data\\", "a.doc", "a", false},
        {"A.DOC", "C:\\Data\\", "a.doc", "a", false},
        {"Quarterly", "C:\\Data\\", "Quarterly.xls", "Quarterly", false},  // by display name
        {"C:\\Data\\Sub\\", "C:\\Data\\", "Sub", "Sub", true},
        {nullptr, "C:\\", "Data", "Data", true},
        {nullptr, "", "C:\\", "C:\\", true},  // a drive root becomes the computer's object
        {"C:\\", "", "C:\\", "C:\\", true},
        {"", "", "", "", false},
    };
    for (const Case& c : cases) {
        if (c.write) {
            browser.SetObjectName(c.write);
        } else {
            browser.SelectFolderAsObject();
        }
        const std::string what = c.write ? c.write : "SelectFolderAsObject";
        EXPECT_EQ(browser.Folder(), c.folder) << what;
        EXPECT_EQ(browser.ObjectName(), c.object) << what;
        EXPECT_EQ(browser.DisplayName(), c.display) << what;
        EXPECT_EQ(browser.IsFolder(), c.isFolder) << what;
    }

    browser.SetFolder("C:\\Data\\");
    try {
        browser.SetObjectName("missing.txt");
        FAIL();
    } catch (const EShellBrowserError& error) {
        EXPECT_STREQ(error.what(),
                     "Error! Cannot find Object \"missing.txt\" in Folder \"C:\\Data\\\"");
    }
}

TEST_F(ShellBrowserTest, FilterKeepsFoldersAndMatchingNames) {
    struct Match {
        const char* name;
        const char* pattern;
        bool matches;
    };
    for (const Match& m : std::initializer_list<Match>{{"AxxBzc", "a*b?c", true},
                                                       {"AxxBc", "a*b?c", false},
                                                       {"a.doc", "*.DOC", true},
                                                       {"a.docx", "*.doc", false},
                                                       {"", "*", true},
                                                       {"", "", true},
                                                       {"x", "", false},
                                                       {"\xC3\xA4", "\xC3\x84", false}}) {
        EXPECT_EQ(TShellBrowser::WildcardMatch(m.name, m.pattern), m.matches)
            << m.name << " ~ " << m.pattern;
    }

    browser.SetFolder("C:\\Data\\");
    struct Case {
        const char* filter;
        const char* reads;
        std::vector<std::string> listed;
    };
    const Case cases[] = {
        {"*.txt;*.DOC", "*.txt;*.DOC", {"a.doc", "b.TXT", "Sub"}},
        {"", "*", {"a.doc", "b.TXT", "c.bin", "Quarterly.xls", "Sub"}},
        {"*.bin;", "*.bin", {"c.bin", "Sub"}},
    };
    for (const Case& c : cases) {
        browser.SetFilter(c.filter);
        EXPECT_EQ(browser.Filter(), c.reads);
        std::vector<std::string> listed;
        while (browser.NextObject()) {
            listed.push_back(browser.ObjectName());
        }
        std::sort(listed.begin(), listed.end());
        std::vector<std::string> expected = c.listed;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected) << c.filter;
    }
}

TEST_F(ShellBrowserTest, FileSystemOnlyLeavesOutObjectsOutsideTheFileSystem) {
    // Objects without the file-system attribute: a virtual one is left out; the recycle bin
    // passes by its name.
    for (const char* path : {"C:\\Data\\Network", "C:\\Data\\RECYCLER"}) {
        shell->entries[shell->Key(path)] = shell->SplitPath(path).second;
        shell->virtualKeys.insert(shell->Key(path));
    }
    const struct {
        bool fileSystemOnly;
        std::vector<std::string> listed;
    } cases[] = {
        {false, {"Network", "Quarterly.xls", "RECYCLER", "Sub", "a.doc", "b.TXT", "c.bin"}},
        {true, {"Quarterly.xls", "RECYCLER", "Sub", "a.doc", "b.TXT", "c.bin"}},
    };
    for (const auto& c : cases) {
        browser.SetFileSystemOnly(c.fileSystemOnly);
        browser.SetFolder("C:\\Data\\");
        std::vector<std::string> listed;
        while (browser.NextObject()) {
            listed.push_back(browser.ObjectName());
        }
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, c.listed) << c.fileSystemOnly;
    }
}

TEST_F(ShellBrowserTest, ContextMenuRunsTheChosenItemOrShellCommand) {
    std::vector<std::string> clicks;
    PopupMenu popup;
    auto click = [&](const MenuItem& sender) {
        clicks.push_back(sender.Name + " " + std::to_string(sender.Tag));
    };
    popup.Items = {
        MenuItem{.Caption = "&COMPRESS", .Name = "Compress", .Tag = 1, .OnClick = click},
        MenuItem{.Caption = "&DECOMPRESS", .Name = "Decompress", .Tag = -1, .OnClick = click},
        MenuItem{.Caption = "More",
                 .Items = {MenuItem{.Caption = "Deep",
                                    .Name = "Deep",
                                    .Tag = 7,
                                    .OnClick = click,
                                    .Items = {MenuItem{.Caption = "Too deep"}}}}}};
    int popups = 0;
    popup.OnPopup = [&](PopupMenu&) { ++popups; };
    auto pick = [](std::string caption) {
        return [caption](FakeShell::Menu& menu) {
            if (caption.empty()) {
                return 0u;
            }
            for (const MenuItem& item : menu.shell.merged) {
                if (item.Caption == caption) {
                    return item.Command;
                }
                for (const MenuItem& child : item.Items) {
                    if (child.Caption == caption) {
                        return child.Command;
                    }
                }
            }
            const auto& verbs = FakeShell::Menu::kVerbs;
            return unsigned(std::find(verbs.begin(), verbs.end(), caption) - verbs.begin() + 1);
        };
    };

    struct Case {
        const char* name = "";
        std::vector<std::string> objects{};  // empty: the folder itself
        std::string choice{};                // a program caption or a shell verb; "" dismisses
        bool withRename = false;
        bool refuse = false;               // OnContextMenuSelect says no
        bool confirm = true;               // the answer to the shell's delete confirmation
        bool declineReportedDone = false;  // the shell reports a declined delete as done
        std::string verb{};
        std::vector<std::string> clicks{};
        std::vector<std::string> invoked{};
        std::string folderAfter = "C:\\Data\\";
    };
    const Case cases[] = {
        {.name = "compress",
         .objects = {"a.doc", "b.txt"},
         .choice = "&COMPRESS",
         .clicks = {"Compress 1"}},
        {.name = "child item", .objects = {"a.doc"}, .choice = "Deep", .clicks = {"Deep 7"}},
        {.name = "dismissed", .objects = {"a.doc"}, .choice = ""},
        {.name = "open",
         .objects = {"c.bin"},
         .choice = "open",
         .verb = "open",
         .invoked = {"open"}},
        {.name = "delete confirmed",
         .objects = {"c.bin"},
         .choice = "delete",
         .verb = "delete",
         .invoked = {"delete"}},
        {.name = "delete cancelled",
         .objects = {"a.doc"},
         .choice = "delete",
         .confirm = false,
         .invoked = {"delete"}},
        {.name = "delete declined but reported done: the object is still there",
         .objects = {"a.doc"},
         .choice = "delete",
         .confirm = false,
         .declineReportedDone = true,
         .invoked = {"delete"}},
        {.name = "rename by the program",
         .objects = {"a.doc"},
         .choice = "rename",
         .withRename = true,
         .verb = "rename"},
        {.name = "rename by the shell",
         .objects = {"a.doc"},
         .choice = "rename",
         .verb = "rename",
         .invoked = {"rename"}},
        {.name = "refused", .objects = {"a.doc"}, .choice = "open", .refuse = true},
        {.name = "folder itself",
         .objects = {},
         .choice = "properties",
         .verb = "properties",
         .invoked = {"properties"},
         .folderAfter = "C:\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        browser.SetFolder("C:\\Data\\");
        clicks.clear();
        shell->invoked.clear();
        shell->confirmDelete = c.confirm;
        shell->declineReportedDone = c.declineReportedDone;
        shell->choose = pick(c.choice);
        int renames = 0;
        browser.OnRename = nullptr;
        if (c.withRename) {
            browser.OnRename = [&](TShellBrowser&) { ++renames; };
        }
        std::vector<std::string> selected;
        browser.OnContextMenuSelect = [&](const std::string& verb, bool& execute) {
            selected.push_back(verb);
            execute = !c.refuse;
        };
        browser.MultiObjects() = c.objects;
        if (c.objects.empty()) {
            browser.SelectFolderAsObject();
        }
        std::string verb = "stale";
        browser.ShowContextMenu({10, 20}, &popup, verb);

        EXPECT_EQ(verb, c.verb);
        EXPECT_EQ(clicks, c.clicks);
        EXPECT_EQ(shell->invoked, c.invoked);
        EXPECT_EQ(renames, c.withRename ? 1 : 0);
        EXPECT_TRUE(browser.MultiObjects().empty());
        EXPECT_EQ(browser.Folder(), c.folderAfter);
        EXPECT_EQ(shell->trackedAt.x, 10);
        EXPECT_EQ(shell->objects.size(), std::max<std::size_t>(1, c.objects.size()));
        // The shell's commands come first; the program's items follow with identifiers above
        // the shell's range, their children copied one level deep.
        EXPECT_EQ(shell->shown.size(), c.withRename ? 4u : 3u);
        ASSERT_EQ(shell->merged.size(), 3u);
        EXPECT_EQ(shell->merged[0].Command, kLastShellCommand + 1);
        EXPECT_EQ(shell->merged[2].Items[0].Command, kLastShellCommand + 4);
        EXPECT_TRUE(shell->merged[2].Items[0].Items.empty());
        const bool shellCommand = c.choice == "open" || c.choice == "delete" ||
                                  c.choice == "rename" || c.choice == "properties";
        EXPECT_EQ(selected.size(), shellCommand ? 1u : 0u);
    }
    EXPECT_EQ(popups, static_cast<int>(std::size(cases)));
    EXPECT_FALSE(shell->ObjectExists("C:\\Data\\c.bin"));

    // A name the folder does not hold ends the call with the list emptied all the same.
    browser.SetFolder("C:\\Data\\");
    browser.MultiObjects() = {"a.doc", "gone.txt"};
    std::string verb;
    EXPECT_THROW(browser.ShowContextMenu({0, 0}, &popup, verb), EShellBrowserError);
    EXPECT_TRUE(browser.MultiObjects().empty());
    EXPECT_EQ(verb, "");
}

TEST_F(ShellBrowserTest, FileChangeWatchesTheBoundFolder) {
    struct Watcher : ChangeWatcher {
        std::unique_ptr<ChangeWatch> Start(const std::string& directory, std::uint32_t flags, bool,
                                           std::function<void()> changed,
                                           std::function<void(std::string)>) override {
            starts.push_back(directory + " " + std::to_string(flags));
            this->changed = std::move(changed);
            return std::make_unique<ChangeWatch>();
        }
        std::vector<std::string> starts;
        std::function<void()> changed;
    };
    auto watcher = std::make_shared<Watcher>();
    std::vector<std::function<void()>> posted;
    TShellBrowser watched(shell, watcher,
                          [&](std::function<void()> run) { posted.push_back(std::move(run)); });
    watched.SetFolder("C:\\Data\\");
    int notices = 0;
    watched.SetOnFileChange([&](TShellBrowser& sender) {
        EXPECT_EQ(&sender, &watched);
        ++notices;
    });
    watched.SetFolder("C:\\Data\\Sub");
    EXPECT_EQ(watcher->starts, (std::vector<std::string>{"C:\\Data 3", "C:\\Data\\Sub 3"}));
    watcher->changed();
    for (auto& run : posted) {
        run();
    }
    EXPECT_EQ(notices, 1);
    watched.SetOnFileChange(nullptr);
    EXPECT_EQ(watched.DirMon(), nullptr);
}

}  // namespace
}  // namespace packmeter
