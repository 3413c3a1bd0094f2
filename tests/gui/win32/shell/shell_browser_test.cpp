#include <gtest/gtest.h>

#include <windows.h>

#include "core/shell/shell_browser.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "gui/win32/shell/win_shell_space.hpp"
#include "tests/gui/win32/win32_test_support.hpp"

namespace packmeter::win32 {
namespace {

TEST(WinShellBrowserTest, ShellMenuWithTheProgramsItemsAfterTheShells) {
    testing::TempTree tree;
    tree.File("a.txt", 10);
    tree.File("b.txt", 10);
    tree.File("c.txt", 10);
    tree.File("\xCE\xA9mega.txt", 10);
    tree.Folder("Sub");
    const UniqueHwnd owner(::CreateWindowExW(0, L"STATIC", L"owner",
                                             WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200,
                                             nullptr, nullptr, nullptr, nullptr));
    ASSERT_NE(owner, nullptr);
    auto space = std::make_shared<WinShellSpace>(owner.get());
    TShellBrowser browser(space);
    EXPECT_EQ(browser.Folder(), "");  // the computer
    browser.SetFolder(tree.Path().substr(0, tree.Path().size() - 1));
    EXPECT_EQ(browser.Folder(), tree.Path());
    EXPECT_THROW(browser.SetFolder(tree.Path() + "missing"), EShellBrowserError);
    EXPECT_EQ(browser.Folder(), tree.Path());

    std::vector<int> clicks;
    PopupMenu popup;
    popup.Items = {
        MenuItem{.Caption = "&COMPRESS",
                 .Tag = 1,
                 .OnClick = [&](const MenuItem& sender) { clicks.push_back(sender.Tag); }},
        MenuItem{.Caption = "&DECOMPRESS",
                 .Tag = -1,
                 .Visible = false,
                 .OnClick = [&](const MenuItem& sender) { clicks.push_back(sender.Tag); }},
    };

    struct Case {
        const char* name = "";
        std::vector<std::string> objects{};  // empty: the folder itself
        std::wstring choice{};
        int answer = 0;  // the button pressed in the shell's confirmation, if one comes
        std::string verb{};
        std::vector<int> clicks{};
        const char* gone = nullptr;  // the file the command removed
    };
    const Case cases[] = {
        {.name = "program item",
         .objects = {"a.txt", "\xCE\xA9mega.txt"},
         .choice = L"COMPRESS",
         .clicks = {1}},
        {.name = "dismissed", .objects = {"a.txt"}},
        {.name = "delete refused", .objects = {"b.txt"}, .choice = L"Delete", .answer = IDNO},
        {.name = "delete confirmed",
         .objects = {"c.txt"},
         .choice = L"Delete",
         .answer = IDYES,
         .verb = "delete",
         .gone = "c.txt"},
        {.name = "folder itself", .objects = {}, .choice = L"COMPRESS", .clicks = {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        browser.SetFolder(tree.Path());
        clicks.clear();
        browser.MultiObjects() = c.objects;
        if (c.objects.empty()) {
            browser.SelectFolderAsObject();
        }
        testing::MenuUser user(c.choice, c.answer);
        std::string verb = "stale";
        browser.ShowContextMenu({120, 120}, &popup, verb);
        user.Join();

        EXPECT_EQ(verb, c.verb);
        EXPECT_EQ(clicks, c.clicks);
        EXPECT_TRUE(browser.MultiObjects().empty());
        // The shell's own commands first, then the program's visible item, last.
        ASSERT_GE(user.captions.size(), 3u);
        EXPECT_EQ(user.captions.back(), L"COMPRESS");
        EXPECT_EQ(std::count(user.captions.begin(), user.captions.end(), L"DECOMPRESS"), 0);
        EXPECT_NE(std::find(user.captions.begin(), user.captions.end(), L"Delete"),
                  user.captions.end());
        if (c.gone) {
            EXPECT_FALSE(ObjectExists(tree.Path() + c.gone));
        }
        if (c.answer == IDNO && user.confirmed) {
            EXPECT_TRUE(ObjectExists(tree.Path() + c.objects.front()));
        }
        if (c.objects.empty()) {
            EXPECT_NE(browser.Folder(), tree.Path());
            EXPECT_EQ(browser.Folder() + browser.ObjectName() + "\\", tree.Path());
        }
    }
}

}  // namespace
}  // namespace packmeter::win32
