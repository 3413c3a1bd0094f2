#include "gui/win32/app/main_form.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "gui/win32/app/estimate_dialog.hpp"
#include "gui/win32/app/shell_launcher.hpp"
#include "gui/win32/framework/window.hpp"
#include "platform/system.hpp"
#include "platform/windows/scan/shell_icon_source.hpp"
#include "platform/windows/utils/win_path.hpp"
#include "tests/gui/win32/win32_test_support.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter::win32 {
namespace {

using testing::FindOwnDialog;
using testing::RecordingLauncher;
using testing::TempTree;
using testing::WaitFor;

std::vector<std::string> Captions(TListViewEx& list) {
    std::vector<std::string> captions;
    for (int i = 0; i < list.ItemCount(); ++i) {
        captions.push_back(list.Item(i).caption);
    }
    return captions;
}

UINT HeaderFormat(TListViewEx& list, int column, HBITMAP* bitmap = nullptr) {
    HDITEMW item{};
    item.mask = HDI_FORMAT | HDI_BITMAP;
    Header_GetItem(list.Header(), column, &item);
    if (bitmap) {
        *bitmap = item.hbm;
    }
    return UINT(item.fmt) & (HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
}

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        tree.Folder("docs");
        tree.File("docs\\a.txt", 5000);
        tree.Folder("empty dir");
        tree.File("zeta.txt", 3000);
        tree.File("alpha.bin", 200000);
        tree.File("Beta.png", 40);
    }

    MainFormServices Services(std::shared_ptr<FileSystem> fs = nullptr) {
        MainFormServices services;
        // The fake file system's paths are its own: they are not made absolute.
        services.fullPath = fs ? nullptr : FullPath;
        services.fileSystem = fs ? std::move(fs) : MakeFileSystem();
        services.icons = MakeShellIconSource();
        services.launcher = launcher;
        services.isFolder = IsFolder;
        services.pathProblem = PathProblem;
        // The fake file system's folders are its own, not the disk's.
        if (const auto fake = std::dynamic_pointer_cast<packmeter::testing::FakeFileSystem>(
                services.fileSystem)) {
            services.isFolder = [fake](const std::string& path) {
                const packmeter::testing::FakeNode* node = fake->Find(path);
                return node && node->kind == packmeter::testing::FakeNode::Kind::kFolder;
            };
            services.pathProblem = nullptr;
        }
        return services;
    }

    std::unique_ptr<TMainForm> Open(std::vector<std::string> args, MainFormServices services) {
        auto form = std::make_unique<TMainForm>(std::move(services), std::move(args));
        form->Show();
        return form;
    }

    // Waits until the window shows the end of its scan.
    static bool ScanShown(TMainForm& form) {
        return WaitFor([&] {
            const TScan* scan = form.Logic().ActiveScan();
            return scan && scan->Finished() && WindowText(form.SizeLabel()) != kCalculatingText;
        });
    }

    // The list's notification as the control sends it to the window.
    static LRESULT Notify(TMainForm& form, NMHDR& header) {
        header.hwndFrom = form.List().Hwnd();
        header.idFrom = kListId;
        return ::SendMessageW(form.Hwnd(), WM_NOTIFY, kListId, LPARAM(&header));
    }

    static void ColumnClick(TMainForm& form, int column) {
        NMLISTVIEW view{};
        view.hdr.code = LVN_COLUMNCLICK;
        view.iItem = -1;
        view.iSubItem = column;
        Notify(form, view.hdr);
    }

    TempTree tree;
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
};

TEST_F(MainWindowTest, LayoutTextsAndFontsBeforeAnyScan) {
    // An empty first argument: no scan and no picker.
    int pickers = 0;
    auto form = Open({""}, Services());
    form->BrowseForFolderDlg().onShow = [&] { ++pickers; };
    testing::Pump(100);
    EXPECT_EQ(pickers, 0);
    EXPECT_EQ(form->Logic().ActiveScan(), nullptr);
    EXPECT_EQ(WindowText(form->Hwnd()), "Packmeter");
    RECT client{};
    ::GetClientRect(form->Hwnd(), &client);
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(client.right, ::MulDiv(410, dpi, 96));
    EXPECT_EQ(client.bottom, ::MulDiv(453, dpi, 96));
    EXPECT_EQ(WindowText(form->PathLabel()), "");
    EXPECT_EQ(WindowText(form->SizeLabel()), "Calculating ...");
    EXPECT_EQ(WindowText(form->CompressedLabel()), "Calculating ...");
    EXPECT_EQ(WindowText(form->RatioLabel()), "");
    // No folder: the header says so in place of the totals.
    EXPECT_TRUE(::IsWindowVisible(form->NoticeLabel()));
    EXPECT_FALSE(::IsWindowVisible(form->SizeLabel()));
    EXPECT_EQ(WindowText(form->NoticeLabel()), kNoFolderText);
    // The list fills the space between the header and the status bar.
    RECT list{};
    ::GetWindowRect(form->List().Hwnd(), &list);
    ::MapWindowPoints(nullptr, form->Hwnd(), reinterpret_cast<POINT*>(&list), 2);
    EXPECT_EQ(list.top, form->HeaderHeight());
    RECT status{};
    ::GetWindowRect(form->StatusBar(), &status);
    ::MapWindowPoints(nullptr, form->Hwnd(), reinterpret_cast<POINT*>(&status), 2);
    EXPECT_EQ(list.bottom, status.top);
    EXPECT_EQ(status.bottom, client.bottom);

    const char* captions[] = {"Name", "Size", "Compresed", "Ratio"};
    const int widths[] = {170, 70, 70, 40};
    // The widest texts the columns usually show fit, beside the list view's cell margins.
    const wchar_t* longest[] = {L"", L"9999 KB", L"9999 KB", L"100 %"};
    const int formats[] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_RIGHT, LVCFMT_RIGHT};
    for (int i = 0; i < 4; ++i) {
        wchar_t text[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(form->List().Hwnd(), i, &column));
        EXPECT_EQ(win::ToUtf8(text), captions[i]);
        EXPECT_GE(column.cx, ::MulDiv(widths[i], dpi, 96));
        EXPECT_GE(column.cx, ListView_GetStringWidth(form->List().Hwnd(), longest[i]) + 12);
        // A sorted caption keeps its whole text beside the arrow.
        HDC dc = ::GetDC(form->List().Header());
        const HGDIOBJ old = ::SelectObject(
            dc, reinterpret_cast<HFONT>(::SendMessageW(form->List().Header(), WM_GETFONT, 0, 0)));
        SIZE caption{};
        ::GetTextExtentPoint32W(dc, text, int(wcslen(text)), &caption);
        ::SelectObject(dc, old);
        ::ReleaseDC(form->List().Header(), dc);
        EXPECT_GE(column.cx, caption.cx + ::MulDiv(8 + 18, dpi, 96)) << i;
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, formats[i]);
    }
    const DWORD ex = ListView_GetExtendedListViewStyle(form->List().Hwnd());
    EXPECT_TRUE(ex & LVS_EX_INFOTIP);
    EXPECT_TRUE(ex & LVS_EX_DOUBLEBUFFER);
    EXPECT_TRUE(::GetWindowLongW(form->List().Hwnd(), GWL_STYLE) & LVS_REPORT);
    EXPECT_EQ(form->List().SortColumn(), -1);
    EXPECT_EQ(form->List().SortOrder(), soNone);
    EXPECT_FALSE(form->List().AutoResort());
    EXPECT_FALSE(form->List().AutoSaveSettings());
    EXPECT_FALSE(form->List().UseExplorerFontSettings());
    // The list uses the window's font; the window's font is the classic 8-point one where the
    // system has it.
    const auto listFont =
        reinterpret_cast<HFONT>(::SendMessageW(form->List().Hwnd(), WM_GETFONT, 0, 0));
    EXPECT_EQ(listFont, form->FormFont());
    LOGFONTW face{};
    ::GetObjectW(form->FormFont(), sizeof(face), &face);
    const std::wstring name = face.lfFaceName;
    if (name == L"MS Sans Serif") {
        EXPECT_EQ(face.lfHeight, -::MulDiv(8, dpi, 72));
    }
    // The list's small images are the shell's own list.
    EXPECT_EQ(ListView_GetImageList(form->List().Hwnd(), LVSIL_SMALL),
              form->SystemImageList().Handle());
    // The Name column takes the list's whole width, and a wider window widens it alone.
    RECT inside{};
    ::GetClientRect(form->List().Hwnd(), &inside);
    const auto columnsWidth = [&] {
        int sum = 0;
        for (int i = 0; i < 4; ++i) {
            sum += ListView_GetColumnWidth(form->List().Hwnd(), i);
        }
        return sum;
    };
    EXPECT_EQ(columnsWidth(), inside.right);
    const int size = ListView_GetColumnWidth(form->List().Hwnd(), 1);
    RECT outer{};
    ::GetWindowRect(form->Hwnd(), &outer);
    ::SetWindowPos(form->Hwnd(), nullptr, 0, 0, outer.right - outer.left + 150,
                   outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
    ::GetClientRect(form->List().Hwnd(), &inside);
    EXPECT_EQ(columnsWidth(), inside.right);
    EXPECT_EQ(ListView_GetColumnWidth(form->List().Hwnd(), 1), size);
    testing::ShotPause(form->Hwnd(), "empty");
    // The list's settings are not kept: closing the window writes nothing to the registry.
    form.reset();
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\QEL Software\\Packmeter\\List", 0,
                              KEY_READ, &key),
              ERROR_SUCCESS);
}

TEST_F(MainWindowTest, RowsOfARealScanTotalsCaptionAndStatusLine) {
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 5; }));
    // Folders first, then files, as the scan lists them.
    EXPECT_TRUE(list.Item(0).keys.folder);
    EXPECT_FALSE(list.Item(2).keys.folder);
    EXPECT_EQ(::SendMessageW(list.Hwnd(), LVM_GETITEMCOUNT, 0, 0), 5);
    EXPECT_EQ(WindowText(form->Hwnd()), "Packmeter - " + tree.Path());
    EXPECT_EQ(form->PathText(), tree.Path());
    EXPECT_EQ(WindowText(form->RatioLabel()), "0 %");
    EXPECT_EQ(form->Logic().CurrentFolder(), tree.Path());
    // The control asks the rows for their texts.
    wchar_t text[64] = {};
    ListView_GetItemText(list.Hwnd(), 2, 0, text, 64);
    EXPECT_EQ(win::ToUtf8(text), list.Item(2).caption);
    ListView_GetItemText(list.Hwnd(), 2, 3, text, 64);
    EXPECT_EQ(win::ToUtf8(text), ColumnText(list.Item(2), 3));
    // Once done, the volume with the entries and the time, which the timer leaves in place.
    const std::string done = form->StatusText();
    EXPECT_NE(done.find(" (doesn't support file based compression) \u2014 5 entries in "),
              std::string::npos)
        << done;
    ::SendMessageW(form->Hwnd(), WM_TIMER, kStatusTimer, 0);
    EXPECT_EQ(form->StatusText(), done);
    testing::ShotPause(form->Hwnd(), "scanned");
}

TEST_F(MainWindowTest, HeaderClicksSortBothWaysWithTheArrowOnThatColumnOnly) {
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 5; }));
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(HeaderFormat(list, c), 0u);
    }
    // A real click on the Name header: files A to Z, then folders.
    RECT item{};
    Header_GetItemRect(list.Header(), 0, &item);
    POINT centre{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ::ClientToScreen(list.Header(), &centre);
    ::SetForegroundWindow(form->Hwnd());
    testing::ClickAt(centre);
    ASSERT_TRUE(WaitFor([&] { return list.SortOrder() == soAscending; }, 3000));
    EXPECT_EQ(Captions(list),
              (std::vector<std::string>{"alpha.bin", "Beta.png", "zeta.txt", "docs", "empty dir"}));
    HBITMAP arrow = nullptr;
    EXPECT_EQ(HeaderFormat(list, 0, &arrow), UINT(HDF_BITMAP | HDF_BITMAP_ON_RIGHT));
    EXPECT_EQ(arrow, list.ArrowBitmap(soAscending));
    // The same column again: descending, folders Z to A first.
    ColumnClick(*form, 0);
    EXPECT_EQ(list.SortOrder(), soDescending);
    EXPECT_EQ(Captions(list),
              (std::vector<std::string>{"empty dir", "docs", "zeta.txt", "Beta.png", "alpha.bin"}));
    EXPECT_EQ(HeaderFormat(list, 0, &arrow), UINT(HDF_BITMAP | HDF_BITMAP_ON_RIGHT));
    EXPECT_EQ(arrow, list.ArrowBitmap(soDescending));
    // Another column starts ascending; only it shows an arrow.
    ColumnClick(*form, 1);
    EXPECT_EQ(list.SortColumn(), 1);
    EXPECT_EQ(list.SortOrder(), soAscending);
    EXPECT_EQ(list.Item(4).caption, "alpha.bin");
    EXPECT_EQ(HeaderFormat(list, 0), 0u);
    EXPECT_EQ(HeaderFormat(list, 1), UINT(HDF_BITMAP | HDF_BITMAP_ON_RIGHT));
    // A resize of the list or a column, and the end of a header drag, keep the arrow.
    ::SetWindowPos(form->Hwnd(), nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    ListView_SetColumnWidth(list.Hwnd(), 1, 90);
    ::SendMessageW(list.Header(), WM_CAPTURECHANGED, 0, 0);
    EXPECT_EQ(HeaderFormat(list, 1), UINT(HDF_BITMAP | HDF_BITMAP_ON_RIGHT));
    EXPECT_EQ(HeaderFormat(list, 0), 0u);
    testing::ShotPause(form->Hwnd(), "sorted");
    // The selection follows its row through a sort.
    ListView_SetItemState(list.Hwnd(), 0, LVIS_SELECTED, LVIS_SELECTED);
    const std::string selected = list.Item(0).caption;
    ColumnClick(*form, 1);
    ASSERT_NE(list.FirstSelectedItem(), nullptr);
    EXPECT_EQ(list.FirstSelectedItem()->caption, selected);
    // After Refresh the new rows arrive in the order the arrow shows.
    ColumnClick(*form, 0);
    ColumnClick(*form, 0);
    form->Logic().RefreshActionExecute();
    ASSERT_TRUE(ScanShown(*form));
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 5; }));
    EXPECT_EQ(Captions(list),
              (std::vector<std::string>{"empty dir", "docs", "zeta.txt", "Beta.png", "alpha.bin"}));
    EXPECT_EQ(HeaderFormat(list, 0), UINT(HDF_BITMAP | HDF_BITMAP_ON_RIGHT));
}

// Answers the next message box of the program from another thread; what it said.
class MessageBoxAnswer {
  public:
    MessageBoxAnswer()
        : thread_([this] {
              for (int i = 0; i < 1000 && !done_; ++i) {
                  if (const HWND box = FindOwnDialog(L"Packmeter")) {
                      wchar_t text[512] = {};
                      ::GetDlgItemTextW(box, 0xFFFF, text, 512);
                      said_ = win::ToUtf8(text);
                      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          }) {}
    ~MessageBoxAnswer() {
        done_ = true;
        thread_.join();
    }
    std::string Said() {
        done_ = true;
        thread_.join();
        thread_ = std::thread([] {});
        return said_;
    }

  private:
    std::atomic<bool> done_{false};
    std::string said_;
    std::thread thread_;
};

TEST_F(MainWindowTest, AFolderThatCannotBeReadIsNamedWithTheReason) {
    const std::string missing = tree.Path() + "missing";
    MessageBoxAnswer answer;
    auto form = Open({missing}, Services());
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(form->NoticeLabel()); }));
    const std::string error = "Cannot read " + missing + "\\: no such file or folder";
    EXPECT_EQ(WindowText(form->NoticeLabel()), error);
    EXPECT_FALSE(::IsWindowVisible(form->SizeLabel()));
    EXPECT_EQ(form->StatusText(), error);
    EXPECT_EQ(form->List().ItemCount(), 0);
    EXPECT_EQ(answer.Said(), error);
}

TEST_F(MainWindowTest, DesktopKeysCopyOpenGoUpAndRefresh) {
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 5; }));
    ::SetForegroundWindow(form->Hwnd());
    ::SetFocus(list.Hwnd());
    const auto clipboard = [&] {
        std::string text;
        if (::OpenClipboard(form->Hwnd())) {
            if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
                text = win::ToUtf8(static_cast<const wchar_t*>(::GlobalLock(data)));
                ::GlobalUnlock(data);
            }
            ::CloseClipboard();
        }
        return text;
    };
    // Ctrl+C with no row selected copies them all.
    testing::PressKeys({VK_CONTROL, 'C'});
    ASSERT_TRUE(WaitFor([&] { return clipboard().find("zeta.txt\t") != std::string::npos; }, 3000));
    int zeta = 0;
    while (list.Item(zeta).caption != "zeta.txt") {
        ++zeta;
    }
    ListView_SetItemState(list.Hwnd(), zeta, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    testing::PressKeys({VK_CONTROL, 'C'});
    const std::string heading = "Name\tSize\tCompresed\tRatio\r\n";
    ASSERT_TRUE(WaitFor([&] { return clipboard().rfind(heading + "zeta.txt\t", 0) == 0; }, 3000));
    EXPECT_EQ(clipboard(), heading + "zeta.txt\t" + ColumnText(list.Item(zeta), 1) + "\t" +
                               ColumnText(list.Item(zeta), 2) + "\t" +
                               ColumnText(list.Item(zeta), 3) + "\r\n");
    // Enter opens the row; Backspace and Alt+Up the parent folder in a new window.
    testing::PressKeys({VK_RETURN});
    testing::PressKeys({VK_BACK});
    testing::PressKeys({VK_MENU, VK_UP});
    ASSERT_TRUE(WaitFor([&] { return launcher->log.size() == 3; }, 3000));
    std::string parent = tree.Path().substr(0, tree.Path().size() - 1);
    parent.resize(parent.rfind('\\'));
    EXPECT_EQ(launcher->log,
              (std::vector<std::string>{"open " + tree.Path() + "zeta.txt", "instance " + parent,
                                        "instance " + parent}));
    // F5 scans again: a file made since shows. (The new scan may take the old one's address,
    // which is freed first, so the scan object itself tells nothing.)
    tree.File("made later.txt", 10);
    testing::PressKeys({VK_F5});
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::vector<std::string> shown = Captions(form->List());
            return std::find(shown.begin(), shown.end(), "made later.txt") != shown.end();
        },
        3000));
    ASSERT_TRUE(ScanShown(*form));
}

// The pixels of `text` drawn in `font`, black on white.
std::vector<COLORREF> Drawn(HFONT font, const std::wstring& text) {
    const HDC screen = ::GetDC(nullptr);
    const HDC dc = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 64, 32);
    ::ReleaseDC(nullptr, screen);
    const HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
    const HGDIOBJ oldFont = ::SelectObject(dc, font);
    RECT all{0, 0, 64, 32};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, text.c_str(), int(text.size()), &all, DT_LEFT | DT_TOP | DT_NOPREFIX);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            pixels.push_back(::GetPixel(dc, x, y));
        }
    }
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    return pixels;
}

TEST_F(MainWindowTest, NamesInEveryScriptAreDrawnNotBoxed) {
    const std::string greek = "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1";
    tree.File(greek + ".txt", 10);
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    ASSERT_TRUE(WaitFor([&] { return form->List().ItemCount() == 6; }));
    // A name that the classic face cannot draw puts the list in the message font, where the
    // Greek letters differ from the box of a character no face has.
    const auto listFont =
        reinterpret_cast<HFONT>(::SendMessageW(form->List().Hwnd(), WM_GETFONT, 0, 0));
    EXPECT_EQ(listFont, form->MessageFont());
    const auto box = Drawn(listFont, L"\uE000\uE000");
    EXPECT_NE(Drawn(listFont, L"\u03A9\u03BC"), box);
    EXPECT_NE(Drawn(listFont, L"\u0416\u0436"), box);
    testing::ShotPause(form->Hwnd(), "greek");
}

TEST_F(MainWindowTest, RowColoursByCompressionStateThroughCustomDraw) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& root = fs->Root();
    root.File("plain.txt", 4000);
    root.File("packed.bin", 8000, 2000, attr::kCompressed);
    root.Folder("part").File("inner.bin", 9000, 3000, attr::kCompressed);
    auto form = Open({packmeter::testing::P("/")}, Services(fs));
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 3; }));
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.hdr.code = NM_CUSTOMDRAW;
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(Notify(*form, draw.nmcd.hdr), CDRF_NOTIFYITEMDRAW);
    for (int row = 0; row < 3; ++row) {
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.nmcd.dwItemSpec = DWORD_PTR(row);
        draw.clrText = RGB(1, 2, 3);
        Notify(*form, draw.nmcd.hdr);
        const std::string& name = list.Item(row).caption;
        const COLORREF expected = name == "packed.bin" ? RGB(0, 0, 255)
                                  : name == "part"     ? RGB(0, 0, 128)
                                                       : ::GetSysColor(COLOR_WINDOWTEXT);
        EXPECT_EQ(draw.clrText, expected) << name;
    }
    // Sizes: the unit first, then the number shown.
    ColumnClick(*form, 2);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"packed.bin", "part", "plain.txt"}));
    testing::ShotPause(form->Hwnd(), "colours");
}

TEST_F(MainWindowTest, ASecondScanDuringTheFirstLeavesNothingOfTheFirst) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& slow = fs->Root().Folder("slow");
    for (int i = 0; i < 300; ++i) {
        slow.File("old" + std::to_string(i), 100);
    }
    fs->Root().Folder("fast").File("new.txt", 10);
    fs->onEntry = [](const std::string& path) {
        if (path.find("old") != std::string::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    auto form = Open({packmeter::testing::P("/slow")}, Services(fs));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() > 5; }));
    form->Logic().ScanFolder(packmeter::testing::P("/fast"));
    EXPECT_EQ(list.ItemCount(), 0);
    ASSERT_TRUE(ScanShown(*form));
    testing::Pump(300);
    EXPECT_EQ(Captions(list), std::vector<std::string>{"new.txt"});
}

TEST_F(MainWindowTest, CtrlASelectsEveryRowAndAAloneDoesNot) {
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 5; }));
    ::SetForegroundWindow(form->Hwnd());
    ::SetFocus(list.Hwnd());
    testing::PressKeys({'A'});
    testing::Pump(200);
    EXPECT_LT(list.SelectedRows().size(), 5u);
    testing::PressKeys({VK_CONTROL, VK_SHIFT, 'A'});
    EXPECT_TRUE(WaitFor([&] { return list.SelectedRows().size() == 5; }, 3000));
}

TEST_F(MainWindowTest, DoubleClickStartsAnInstanceForAFolderAndOpensAFile) {
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 5; }));
    NMITEMACTIVATE activate{};
    activate.hdr.code = NM_DBLCLK;
    Notify(*form, activate.hdr);
    EXPECT_TRUE(launcher->log.empty());
    for (int row = 0; row < list.ItemCount(); ++row) {
        if (list.Item(row).caption == "empty dir" || list.Item(row).caption == "zeta.txt") {
            ListView_SetItemState(list.Hwnd(), -1, 0, LVIS_SELECTED);
            ListView_SetItemState(list.Hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
            Notify(*form, activate.hdr);
        }
    }
    EXPECT_EQ(launcher->log, (std::vector<std::string>{"instance " + tree.Path() + "empty dir",
                                                       "open " + tree.Path() + "zeta.txt"}));
}

TEST_F(MainWindowTest, ClosingDuringAScanEndsCleanly) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& big = fs->Root().Folder("big");
    for (int i = 0; i < 2000; ++i) {
        big.File("f" + std::to_string(i), 100);
    }
    fs->onEntry = [](const std::string&) {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    };
    auto form = Open({packmeter::testing::P("/big")}, Services(fs));
    ASSERT_TRUE(WaitFor([&] { return form->List().ItemCount() > 0; }));
    ::SendMessageW(form->Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(form->Hwnd(), nullptr);
    testing::Pump(100);
    form.reset();
}

// The timings and the number of batches are printed for the benchmark's reader (a fast walk
// may hand over every row before the window's first turn); the test checks what does not
// depend on the machine's load: all the rows arrive, and all of them sort.
TEST_F(MainWindowTest, AHundredThousandRowsArriveInBatchesAndSort) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& many = fs->Root().Folder("many");
    for (int i = 0; i < 100000; ++i) {
        many.File("file" + std::to_string(i) + ".dat", 1000 + i);
    }
    const auto start = std::chrono::steady_clock::now();
    auto form = Open({packmeter::testing::P("/many")}, Services(fs));
    int longest = 0;
    int growths = 0;
    std::size_t count = 0;
    while (form->List().ItemCount() < 100000 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(120)) {
        const auto before = std::chrono::steady_clock::now();
        testing::Pump(20);
        longest = std::max(longest, int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - before)
                                            .count()));
        if (std::size_t(form->List().ItemCount()) > count) {
            count = std::size_t(form->List().ItemCount());
            ++growths;
        }
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    ASSERT_EQ(form->List().ItemCount(), 100000);
    std::printf("100000 rows in %lld ms, in %d steps, longest pump %d ms\n",
                (long long)took.count(), growths, longest);
    const auto sortStart = std::chrono::steady_clock::now();
    ColumnClick(*form, 1);
    std::printf("sorted by size in %lld ms\n",
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - sortStart)
                    .count());
    EXPECT_EQ(form->List().Item(0).caption, "file0.dat");
}

TEST_F(MainWindowTest, ShellMenuOfRowsAndPathLabelWithTheCompressionCommands) {
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    ::SetForegroundWindow(form->Hwnd());
    const HWND list = form->List().Hwnd();
    std::vector<int> files;
    for (int row = 0; row < form->List().ItemCount(); ++row) {
        const std::string& caption = form->List().Item(row).caption;
        if (caption == "zeta.txt" || caption == "alpha.bin") {
            files.push_back(row);
            ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        }
    }
    ASSERT_EQ(files.size(), 2u);
    form->Logic().UpdateStatusTimerTimer();
    testing::Pump(50);

    // A real right-click on the first selected row; the user chooses "&COMPRESS". Wine's volume
    // cannot compress: one beep, and the command stops at that file.
    RECT cell{};
    ListView_GetItemRect(list, files.front(), &cell, LVIR_LABEL);
    POINT at{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    ::ClientToScreen(list, &at);
    testing::MenuUser rows(L"COMPRESS", 0, "win32-menu");
    // The pointer first, so that the click goes to where it now is.
    ::SetCursorPos(at.x, at.y);
    testing::Pump(100);
    testing::RightClickAt(at);
    ASSERT_TRUE(
        WaitFor([&] { return form->BeepCount() == 1 && !form->Logic().CommandRunning(); }, 20000));
    rows.Join();
    testing::Pump(200);
    EXPECT_EQ(form->BeepCount(), 1);
    // The shell's own commands, then the program's (several rows: all stay visible).
    ASSERT_GE(rows.captions.size(), 6u);
    EXPECT_EQ(rows.captions[rows.captions.size() - 4], L"COMPRESS");
    EXPECT_EQ(rows.captions[rows.captions.size() - 3], L"Compress with...");
    EXPECT_EQ(rows.captions[rows.captions.size() - 2], L"Estimate saving...");
    EXPECT_EQ(rows.captions.back(), L"DECOMPRESS");
    EXPECT_NE(std::find(rows.captions.begin(), rows.captions.end(), L"Delete"),
              rows.captions.end());
    EXPECT_EQ(form->List().SelectedRows(), files);
    const std::string first = form->List().Item(files.front()).caption;
    EXPECT_EQ(form->StatusText(), "Compressing " + tree.Path() + first + " ... ");
    testing::ShotPause(form->Hwnd(), "win32-compress-stopped");

    // Any button released over the path label: no row stays selected and the menu is the
    // shown folder's own, the browser now in the folder above.
    RECT label{};
    ::GetWindowRect(form->PathLabel(), &label);
    const POINT onLabel{label.left + 4, (label.top + label.bottom) / 2};
    ::SetCursorPos(onLabel.x, onLabel.y);
    testing::Pump(100);
    testing::MenuUser folder(L"");
    testing::ClickAt(onLabel);
    ASSERT_TRUE(WaitFor([&] { return form->ShellBrowser().Folder() != tree.Path(); }));
    folder.Join();
    EXPECT_TRUE(form->List().SelectedRows().empty());
    ASSERT_GE(folder.captions.size(), 4u);
    EXPECT_NE(std::find(folder.captions.begin(), folder.captions.end(), L"Explore"),
              folder.captions.end());
    EXPECT_EQ(folder.captions.back(), L"DECOMPRESS");
    const std::string shown = tree.Path().substr(0, tree.Path().size() - 1);
    EXPECT_EQ(form->ShellBrowser().Folder(), shown.substr(0, shown.find_last_of('\\') + 1));
    EXPECT_EQ(form->ShellBrowser().ObjectName(), shown.substr(shown.find_last_of('\\') + 1));
    EXPECT_EQ(form->BeepCount(), 1);
}

// "Estimate saving..." under Wine: the forecast runs with Wine's RtlCompressBuffer and its box
// lists the rows and the totals; its Compress fails as Wine's volume cannot compress (one
// beep), and the files stay as they were. "Compress with..." offers the threshold alone and
// keeps it.
TEST_F(MainWindowTest, EstimateSavingAndCompressWithOnWine) {
    // No threshold kept from an earlier run: the estimate's Compress then tries every file.
    SaveCompressionChoice({});
    auto form = Open({tree.Path()}, Services());
    ASSERT_TRUE(ScanShown(*form));
    const HWND list = form->List().Hwnd();
    for (int row = 0; row < form->List().ItemCount(); ++row) {
        const std::string& caption = form->List().Item(row).caption;
        if (caption == "zeta.txt" || caption == "alpha.bin") {
            ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        }
    }
    std::vector<std::vector<std::string>> rows;
    std::string summary;
    EstimateBox::OnShown() = [&](EstimateBox& box) {
        for (int row = 0; row < ListView_GetItemCount(box.List()); ++row) {
            rows.emplace_back();
            for (int column = 0; column < int(kEstimateColumnCount); ++column) {
                wchar_t text[256] = {};
                ListView_GetItemText(box.List(), row, column, text, 256);
                rows.back().push_back(win::ToUtf8(text));
            }
        }
        summary = WindowText(box.Summary());
        testing::ShotPause(box.Hwnd(), "win32-estimate");
        box.End(IDYES);
    };
    form->Logic().Commands().SetForecastRules(ForecastRules::kNtfs);
    form->Logic().Commands().EstimateMenuItemClick(form->Logic().CurrentFolder(), false);
    const bool ended =
        WaitFor([&] { return form->BeepCount() == 1 && !form->Logic().CommandRunning(); }, 60000);
    EstimateBox::OnShown() = nullptr;
    ASSERT_TRUE(ended);
    ASSERT_EQ(rows.size(), 3u);
    std::sort(rows.begin(), rows.end() - 1);
    EXPECT_EQ(rows[0][0], "alpha.bin");
    EXPECT_EQ(rows[0][1], "195 KB");
    EXPECT_EQ(rows[1][0], "zeta.txt");
    EXPECT_EQ(rows[1][1], "3,000 Bytes");
    EXPECT_EQ(rows[2][0], "Total");
    EXPECT_EQ(rows[2][1], "198 KB");
    EXPECT_NE(summary.find("2 files of 198 KB"), std::string::npos) << summary;
    EXPECT_EQ(std::filesystem::file_size(tree.Path() + "alpha.bin"), 200000u);
    EXPECT_EQ(std::filesystem::file_size(tree.Path() + "zeta.txt"), 3000u);

    // "Compress with...": the threshold, kept for the next time. Wine's volume names no file
    // system whose compression can be forecast, so the file counts as saving nothing and is
    // left alone, which is counted, not failed.
    bool shown = false;
    CompressWithBox::OnShown() = [&](CompressWithBox& box) {
        shown = true;
        SetWindowTextUtf8(box.MinSaving(), "10");
        testing::ShotPause(box.Hwnd(), "win32-compress-with");
        box.End(IDOK);
    };
    form->Logic().Commands().onCompressWith(form->Logic().CurrentFolder(), {"alpha.bin"});
    const bool compressed =
        WaitFor([&] { return shown && !form->Logic().CommandRunning(); }, 60000);
    CompressWithBox::OnShown() = nullptr;
    ASSERT_TRUE(compressed) << form->StatusText() << " beeps " << form->BeepCount()
                            << (form->Logic().CommandRunning() ? " running" : "");
    EXPECT_EQ(form->StatusText(),
              "Compressing " + tree.Path() + "alpha.bin ... Finished" + LeftAloneText(1));
    EXPECT_EQ(form->BeepCount(), 1);
    EXPECT_EQ(LoadCompressionChoice().minSavingPercent, 10);
    EXPECT_EQ(form->Logic().Commands().Choice().minSavingPercent, 10);
    EXPECT_EQ(std::filesystem::file_size(tree.Path() + "alpha.bin"), 200000u);
}

TEST_F(MainWindowTest, ACommandShowsItsProgressCancelsAndUpdatesRowsInPlace) {
    using packmeter::testing::P;
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& root = fs->Root();
    root.File("a.bin", 4000);
    root.Folder("tree").File("inner.bin", 9000);
    root.File("z.txt", 3000);
    auto form = Open({P("/")}, Services(fs));
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 3; }));
    const std::vector<std::string> rows = Captions(list);
    list.SelectAll();

    // The worker is held inside the tree (its second listing: the first is the quick count).
    std::mutex lock;
    std::condition_variable gate;
    bool reached = false;
    bool released = false;
    int seen = 0;
    fs->onEntry = [&](const std::string& entry) {
        if (entry == P("/tree/inner.bin") && ++seen == 2) {
            std::unique_lock guard(lock);
            reached = true;
            gate.wait(guard, [&] { return released; });
        }
    };
    form->Logic().DecompressMenuItemClick(1);
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard guard(lock);
        return reached && ::IsWindowVisible(form->CancelButton()) &&
               form->ProgressText().find(" entries") != std::string::npos &&
               form->StatusText().rfind("Compressing " + P("/tree/"), 0) == 0;
    }));
    testing::ShotPause(form->Hwnd(), "win32-command-progress");
    // At the first width the figure's part holds its whole text, and the bar stands beside it,
    // before the Cancel button.
    {
        const HWND bar = form->StatusBar();
        RECT figure{};
        ::SendMessageW(bar, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&figure));
        int borders[3] = {};
        ::SendMessageW(bar, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
        const std::wstring text = win::ToWide(form->ProgressText());
        const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(bar, WM_GETFONT, 0, 0));
        EXPECT_GE(figure.right - figure.left - 2 * borders[0], TextExtent(bar, font, text).cx)
            << form->ProgressText();
        ASSERT_TRUE(::IsWindowVisible(form->CommandProgressBar()));
        RECT gauge{};
        ::GetWindowRect(form->CommandProgressBar(), &gauge);
        ::MapWindowPoints(nullptr, bar, reinterpret_cast<POINT*>(&gauge), 2);
        RECT cancel{};
        ::GetWindowRect(form->CancelButton(), &cancel);
        ::MapWindowPoints(nullptr, bar, reinterpret_cast<POINT*>(&cancel), 2);
        EXPECT_LE(figure.right, gauge.left);
        EXPECT_LT(gauge.left, gauge.right);
        EXPECT_LE(gauge.right, cancel.left);
    }
    // The status bar's Cancel button: the command stops after the file being switched.
    ::SendMessageW(form->CancelButton(), BM_CLICK, 0, 0);
    {
        std::lock_guard guard(lock);
        released = true;
    }
    gate.notify_all();
    ASSERT_TRUE(WaitFor([&] { return !form->Logic().CommandRunning(); }));
    testing::Pump(100);
    EXPECT_FALSE(::IsWindowVisible(form->CancelButton()));
    EXPECT_EQ(form->ProgressText(), "");
    EXPECT_NE(form->StatusText().find("Cancelled"), std::string::npos) << form->StatusText();
    // Rows keep their places: the tree (first in the list) was switched before the file inside
    // it was reached; the rows after it are untouched.
    EXPECT_EQ(Captions(list), rows);
    EXPECT_EQ(fs->switches, std::vector<std::string>{"+" + P("/tree/")});
    for (int row = 0; row < list.ItemCount(); ++row) {
        const ListItem& item = list.Item(row);
        // The tree's row is measured again: the folder itself was switched, the file inside it
        // not, so the cancelled tree is partly compressed.
        EXPECT_EQ(item.keys.state,
                  item.caption == "tree" ? CompressionState::kPartly : CompressionState::kPlain)
            << item.caption;
    }
}

TEST_F(MainWindowTest, RatioStaysInViewOnceRowsBringAScrollBarAndSortedCaptionsFit) {
    tree.Folder("many");
    for (int i = 0; i < 40; ++i) {
        tree.File("many\\file" + std::to_string(i) + ".txt", 100);
    }
    auto form = Open({tree.Path() + "many"}, Services());
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = form->List();
    ASSERT_TRUE(WaitFor([&] { return list.ItemCount() == 40; }));
    // The rows brought a vertical scroll bar: the columns still end inside the list.
    ASSERT_TRUE(
        WaitFor([&] { return (::GetWindowLongPtrW(list.Hwnd(), GWL_STYLE) & WS_VSCROLL) != 0; }));
    RECT client{};
    ::GetClientRect(list.Hwnd(), &client);
    int right = 0;
    for (int c = 0; c < 4; ++c) {
        right += ListView_GetColumnWidth(list.Hwnd(), c);
    }
    EXPECT_LE(right, client.right);
    // Each column is wide enough for its caption, the arrow and the margins the header keeps.
    const HWND header = list.Header();
    for (int c = 0; c < 4; ++c) {
        wchar_t caption[64] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = caption;
        item.cchTextMax = 64;
        Header_GetItem(header, c, &item);
        const SIZE text = TextExtent(
            header, reinterpret_cast<HFONT>(::SendMessageW(header, WM_GETFONT, 0, 0)), caption);
        EXPECT_GE(ListView_GetColumnWidth(list.Hwnd(), c), int(text.cx) + list.ArrowSpace()) << c;
    }
}

TEST(Win32CommandLine, AFoldersTrailingSeparatorBeforeTheClosingQuoteIsKept) {
    const struct {
        const wchar_t* line;
        std::vector<std::string> args;
    } cases[] = {
        {L"packmeter \"D:\\My Data\\\"", {"D:\\My Data\\"}},
        {L"packmeter \"D:\\My Data\\\" second", {"D:\\My Data\\", "second"}},
        {L"packmeter \"D:\\My Data\"", {"D:\\My Data"}},
        {L"packmeter D:\\plain\\", {"D:\\plain\\"}},
        {L"packmeter", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandLineArguments(c.line), c.args) << win::ToUtf8(c.line);
    }
}

}  // namespace
}  // namespace packmeter::win32
