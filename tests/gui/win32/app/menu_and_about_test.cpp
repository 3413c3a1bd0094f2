#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "gui/win32/about/about_box.hpp"
#include "gui/win32/app/main_form.hpp"
#include "gui/win32/app/shell_launcher.hpp"
#include "gui/win32/listview/list_view_actions.hpp"
#include "platform/system.hpp"
#include "platform/windows/scan/shell_icon_source.hpp"
#include "platform/windows/utils/win_path.hpp"
#include "tests/gui/win32/win32_test_support.hpp"

namespace packmeter::win32 {
namespace {

using testing::TempTree;
using testing::WaitFor;

MainFormServices Services() {
    MainFormServices services;
    services.fullPath = FullPath;
    services.fileSystem = MakeFileSystem();
    services.icons = MakeShellIconSource();
    services.launcher = std::make_shared<testing::RecordingLauncher>();
    services.isFolder = IsFolder;
    return services;
}

std::unique_ptr<TMainForm> OpenScanned(const std::string& folder) {
    auto form = std::make_unique<TMainForm>(Services(), std::vector<std::string>{folder});
    form->Show();
    EXPECT_TRUE(WaitFor([&] {
        const TScan* scan = form->Logic().ActiveScan();
        return scan && scan->Finished() && WindowText(form->SizeLabel()) != kCalculatingText;
    }));
    return form;
}

std::string MenuText(HMENU menu, int position) {
    wchar_t text[128] = {};
    ::GetMenuStringW(menu, UINT(position), text, 128, MF_BYPOSITION);
    return win::ToUtf8(text);
}

// Records what the shell would open instead of opening it.
class OpenedTargets {
  public:
    OpenedTargets() {
        ShellOpen() = [this](const std::wstring& target, HWND owner) {
            targets.push_back(win::ToUtf8(target));
            owners.push_back(owner);
            return std::string();
        };
    }
    ~OpenedTargets() { ShellOpen() = saved_; }
    std::vector<std::string> targets;
    std::vector<HWND> owners;

  private:
    ShellOpener saved_ = ShellOpen();
};

HWND shotStatusBar = nullptr;

void CALLBACK MoveDown(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    // Down to "&Print List", past "&Refresh" and the separator.
    testing::PressKeys({VK_DOWN});
    testing::PressKeys({VK_DOWN});
}

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    wchar_t text[512] = {};
    ::SendMessageW(shotStatusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    std::printf("status line with the menu open: %s\n", win::ToUtf8(text).c_str());
    ::EndMenu();
}

// With $PACKMETER_SHOT_PAUSE set, opens the File menu from the keyboard and keeps it on screen
// that long, after printing "shot menu", for a screenshot of the display.
void MenuShot(HWND form, HWND statusBar) {
    shotStatusBar = statusBar;
    char pause[32] = {};
    if (!::GetEnvironmentVariableA("PACKMETER_SHOT_PAUSE", pause, sizeof(pause))) {
        return;
    }
    std::printf("shot menu\n");
    std::fflush(stdout);
    ::SetTimer(nullptr, 0, UINT(std::atoi(pause)), &CloseMenu);
    ::SetTimer(nullptr, 0, 500, &MoveDown);
    ::PostMessageW(form, WM_SYSCOMMAND, SC_KEYMENU, 'f');
    testing::Pump(std::atoi(pause) + 500);
}

std::string StatusText(TMainForm& form) {
    wchar_t text[512] = {};
    ::SendMessageW(form.StatusBar(), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return win::ToUtf8(text);
}

TEST(Win32MenuBar, MenusEntriesImagesHintsAndExit) {
    TempTree tree;
    tree.File("a.txt", 10);
    auto form = OpenScanned(tree.Path());
    const HMENU bar = ::GetMenu(form->Hwnd());
    ASSERT_EQ(::GetMenuItemCount(bar), 3);
    std::vector<std::string> menus;
    std::vector<std::vector<std::string>> entries;
    for (int m = 0; m < 3; ++m) {
        menus.push_back(MenuText(bar, m));
        const HMENU popup = ::GetSubMenu(bar, m);
        entries.emplace_back();
        for (int i = 0; i < ::GetMenuItemCount(popup); ++i) {
            MENUITEMINFOW item{};
            item.cbSize = sizeof(item);
            item.fMask = MIIM_FTYPE | MIIM_BITMAP | MIIM_STATE;
            ::GetMenuItemInfoW(popup, UINT(i), TRUE, &item);
            if (item.fType & MFT_SEPARATOR) {
                entries.back().push_back("-");
                continue;
            }
            entries.back().push_back(MenuText(popup, i));
            EXPECT_EQ(item.hbmpItem, HBMMENU_CALLBACK) << MenuText(popup, i);
            EXPECT_EQ(item.fState & (MFS_DISABLED | MFS_GRAYED), 0u);
        }
    }
    EXPECT_EQ(menus, (std::vector<std::string>{"&File", "&Edit", "&Help"}));
    // The bar in cream, as in the Qt window.
    MENUINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = MIM_BACKGROUND;
    ASSERT_TRUE(::GetMenuInfo(bar, &info));
    LOGBRUSH brush{};
    ASSERT_TRUE(::GetObjectW(info.hbrBack, sizeof(brush), &brush));
    EXPECT_EQ(brush.lbColor, RGB(0xF7, 0xF6, 0xEE));
    EXPECT_EQ(entries[0], (std::vector<std::string>{"&Scan...", "&Refresh\tF5", "-", "&Print List",
                                                    "-", "E&xit"}));
    EXPECT_EQ(entries[1], (std::vector<std::string>{"&Copy List to Clipboard"}));
    EXPECT_EQ(entries[2], (std::vector<std::string>{"&Readme.txt", "-", "&About"}));

    // Highlighted entries put their hints in the status line until the menu closes.
    const std::string before = StatusText(*form);
    ::SendMessageW(form->Hwnd(), WM_MENUSELECT, MAKEWPARAM(kPrintCommand, MF_HILITE),
                   LPARAM(::GetSubMenu(bar, 0)));
    EXPECT_EQ(StatusText(*form), "Print the contents of this list");
    ::SendMessageW(form->Hwnd(), WM_MENUSELECT, MAKEWPARAM(kExitCommand, MF_HILITE),
                   LPARAM(::GetSubMenu(bar, 0)));
    EXPECT_EQ(StatusText(*form), "Quits the application");
    ::SendMessageW(form->Hwnd(), WM_EXITMENULOOP, 0, 0);
    EXPECT_EQ(StatusText(*form), before);
    // The status timer's text waits until the menu has closed.
    ::SendMessageW(form->Hwnd(), WM_MENUSELECT, MAKEWPARAM(kCopyCommand, MF_HILITE),
                   LPARAM(::GetSubMenu(bar, 1)));
    ::SendMessageW(form->Hwnd(), WM_TIMER, kStatusTimer, 0);
    EXPECT_EQ(StatusText(*form), "Copy the list Content to the Clipboard");
    ::SendMessageW(form->Hwnd(), WM_EXITMENULOOP, 0, 0);
    const std::string timerText = StatusText(*form);
    ::SendMessageW(form->Hwnd(), WM_TIMER, kStatusTimer, 0);
    EXPECT_EQ(StatusText(*form), timerText);

    MenuShot(form->Hwnd(), form->StatusBar());

    // Exit closes the window.
    ::SendMessageW(form->Hwnd(), WM_COMMAND, kExitCommand, 0);
    EXPECT_TRUE(WaitFor([&] { return form->Hwnd() == nullptr; }));
}

TEST(Win32MenuBar, CopyPutsUnicodeTextOnTheClipboard) {
    TempTree tree;
    tree.File("\xce\xb1\xce\xb2\xce\xb3.txt", 2000);            // Greek
    tree.File("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", 10);  // CJK
    auto form = OpenScanned(tree.Path());
    ASSERT_EQ(form->List().ItemCount(), 2);
    ::SendMessageW(form->Hwnd(), WM_COMMAND, kCopyCommand, 0);
    std::string expected = "Name\tSize\tCompresed\tRatio\r\n";
    for (int i = 0; i < 2; ++i) {
        const ListItem& item = form->List().Item(i);
        expected += item.caption + "\t" + ColumnText(item, 1) + "\t" + ColumnText(item, 2) + "\t" +
                    ColumnText(item, 3) + "\r\n";
    }
    ASSERT_TRUE(::OpenClipboard(nullptr));
    const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(data, nullptr);
    const std::wstring copied(static_cast<const wchar_t*>(::GlobalLock(data)));
    ::GlobalUnlock(data);
    ::CloseClipboard();
    EXPECT_EQ(win::ToUtf8(copied), expected);
    EXPECT_NE(expected.find("\xce\xb1\xce\xb2\xce\xb3.txt"), std::string::npos);
}

struct TextCall {
    std::string text;
    POINTL at;
    UINT align;
};

// What a metafile recorded: its text calls with the text alignment in force, and its mapping
// modes.
struct Recorded {
    std::vector<TextCall> texts;
    std::vector<int> mapModes;
    UINT align = 0;
};

int CALLBACK Record(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
    auto& seen = *reinterpret_cast<Recorded*>(data);
    if (record->iType == EMR_SETTEXTALIGN) {
        seen.align = reinterpret_cast<const EMRSETTEXTALIGN*>(record)->iMode;
    } else if (record->iType == EMR_SETMAPMODE) {
        seen.mapModes.push_back(int(reinterpret_cast<const EMRSETMAPMODE*>(record)->iMode));
    } else if (record->iType == EMR_EXTTEXTOUTW) {
        const auto* text = reinterpret_cast<const EMREXTTEXTOUTW*>(record);
        const auto* chars = reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(record) +
                                                             text->emrtext.offString);
        seen.texts.push_back({win::ToUtf8(std::wstring(chars, text->emrtext.nChars)),
                              text->emrtext.ptlReference, seen.align});
    }
    return 1;
}

TEST(Win32ListPrint, TextCallsOnAMetafile) {
    TempTree tree;
    tree.File("small.txt", 10);
    tree.File("a_name_much_too_long_for_its_printed_column_to_hold.data", 300000);
    auto form = OpenScanned(tree.Path());
    const HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    {
        GdiListPrinter printer(dc, {2000, 2870});
        form->ListViewPrint().Execute(nullptr, printer);
    }
    const HENHMETAFILE file = ::CloseEnhMetaFile(dc);
    Recorded seen;
    ::EnumEnhMetaFile(nullptr, file, &Record, &seen, nullptr);
    ::DeleteEnhMetaFile(file);
    EXPECT_EQ(seen.mapModes, std::vector<int>{MM_LOMETRIC});
    std::map<std::string, TextCall> byText;
    for (const TextCall& call : seen.texts) {
        byText[call.text] = call;
    }
    ASSERT_TRUE(byText.count("Name"));
    EXPECT_EQ(byText["Name"].at.x, 200);
    EXPECT_EQ(byText["Name"].at.y, -157);
    EXPECT_EQ(byText["Name"].align & (TA_RIGHT | TA_CENTER), UINT(TA_LEFT));
    ASSERT_TRUE(byText.count("Page 1"));
    EXPECT_EQ(byText["Page 1"].at.y, -2670);
    // The size of the large file right-aligned at its column's right end.
    const int row = form->List().Item(0).caption == "small.txt" ? 1 : 0;
    const ListItem& large = form->List().Item(row);
    ASSERT_TRUE(byText.count(ColumnText(large, 1))) << ColumnText(large, 1);
    EXPECT_EQ(byText[ColumnText(large, 1)].align & TA_RIGHT, UINT(TA_RIGHT));
    EXPECT_EQ(byText[ColumnText(large, 1)].at.y, -(205 + 38 * row));
    // The long name shortened to its head, "..." and its last 6 characters.
    bool shortened = false;
    for (const TextCall& call : seen.texts) {
        shortened |= call.text.size() > 9 && call.text.rfind("...d.data") == call.text.size() - 9;
    }
    EXPECT_TRUE(shortened);
}

TEST(Win32AboutBox, TextsLinksAndAFreshBoxEachTime) {
    TempTree tree;
    auto form = std::make_unique<TMainForm>(Services(), std::vector<std::string>{""});
    form->Show();
    OpenedTargets opened;
    std::vector<std::string> names;
    std::string version;
    COLORREF webHeld = 0, emailHeld = 0, webAfter = 0;
    int shown = 0;
    int downs = 0;
    int clicks = 0;
    TAboutBox::OnShown() = [&](TAboutBox& box) {
        ++shown;
        names.push_back(WindowText(box.Hwnd()) + "|" + box.ProductName() + "|" + box.Shadow());
        version = WindowText(box.Version());
        if (shown == 1) {
            const LPARAM at = MAKELPARAM(2, 2);
            box.WebLink().onMouseDown = [&] { ++downs; };
            box.WebLink().onClick = [&] { ++clicks; };
            ::SendMessageW(box.WebLink().Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
            webHeld = box.WebLink().CaptionColor();
            ::SendMessageW(box.WebLink().Hwnd(), WM_LBUTTONUP, 0, at);
            webAfter = box.WebLink().CaptionColor();
            ::SendMessageW(box.EmailLink().Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
            emailHeld = box.EmailLink().CaptionColor();
            ::SendMessageW(box.EmailLink().Hwnd(), WM_LBUTTONUP, 0, at);
            box.EmailLink().CopyCaption();
            testing::ShotPause(box.Hwnd(), "about");
        }
        ::PostMessageW(box.Hwnd(), WM_COMMAND, IDOK, 0);
    };
    ::SendMessageW(form->Hwnd(), WM_COMMAND, kAboutCommand, 0);
    ::SendMessageW(form->Hwnd(), WM_COMMAND, kAboutCommand, 0);
    TAboutBox::OnShown() = nullptr;
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(names, (std::vector<std::string>(2, "Info|Packmeter|Packmeter")));
    EXPECT_EQ(version, "Version 1.2");
    EXPECT_EQ(webHeld, RGB(255, 0, 0));
    EXPECT_EQ(emailHeld, RGB(128, 0, 128));
    EXPECT_EQ(webAfter, RGB(0, 0, 255));
    // The link raises its mouse-down and click events.
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(opened.targets, (std::vector<std::string>{"https://packmeter.org/",
                                                        "mailto:maintainers@packmeter.org"}));
    ASSERT_TRUE(::OpenClipboard(nullptr));
    const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(data, nullptr);
    const std::wstring copied(static_cast<const wchar_t*>(::GlobalLock(data)));
    ::GlobalUnlock(data);
    ::CloseClipboard();
    EXPECT_EQ(win::ToUtf8(copied), "maintainers@packmeter.org");
    EXPECT_TRUE(::IsWindowEnabled(form->Hwnd()));
}

TEST(Win32HelpMenu, ReadmeBesideTheProgramOpensFromAnyFolder) {
    TempTree elsewhere;
    auto form = std::make_unique<TMainForm>(Services(), std::vector<std::string>{""});
    OpenedTargets opened;
    wchar_t before[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ::SetCurrentDirectoryW(win::ToWide(elsewhere.Path()).c_str());
    ::SendMessageW(form->Hwnd(), WM_COMMAND, kReadmeCommand, 0);
    ::SetCurrentDirectoryW(before);
    const std::wstring program = ProgramPath();
    ASSERT_EQ(opened.targets.size(), 1u);
    // Owned by the main window, not the desktop.
    EXPECT_EQ(opened.owners[0], form->Hwnd());
    EXPECT_EQ(opened.targets[0],
              win::ToUtf8(program.substr(0, program.find_last_of(L'\\') + 1)) + "Readme.txt");
}

}  // namespace
}  // namespace packmeter::win32
