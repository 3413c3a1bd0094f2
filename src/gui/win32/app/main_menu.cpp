// The main window's menu bar and the commands behind it that are not the scan's own.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "core/about/about_texts.hpp"
#include "gui/win32/about/about_box.hpp"
#include "gui/win32/app/main_form.hpp"
#include "gui/win32/app/shell_launcher.hpp"
#include "gui/win32/listview/list_view_actions.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

// The command's 16 × 16 picture as a 32-bit bitmap with transparency, which menus draw beside
// the entry's caption.
HBITMAP MenuPicture(MenuCommand command) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
        return nullptr;
    }
    auto* pixels = static_cast<DWORD*>(bits);
    const CommandPicture& picture = FallbackPicture(command);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            DWORD pixel = 0;  // transparent
            for (const PictureColour& colour : PictureColours()) {
                if (colour.key == picture[std::size_t(y)][x]) {
                    pixel = 0xFF000000u | (DWORD(colour.red) << 16) | (DWORD(colour.green) << 8) |
                            DWORD(colour.blue);
                }
            }
            pixels[y * 16 + x] = pixel;
        }
    }
    return bitmap;
}

}  // namespace

int TMainForm::CommandId(MenuCommand command) {
    switch (command) {
        case MenuCommand::kExit:
            return kExitCommand;
        case MenuCommand::kScan:
            return kScanCommand;
        case MenuCommand::kRefresh:
            return kRefreshCommand;
        case MenuCommand::kPrint:
            return kPrintCommand;
        case MenuCommand::kCopy:
            return kCopyCommand;
        case MenuCommand::kReadme:
            return kReadmeCommand;
        case MenuCommand::kAbout:
            return kAboutCommand;
    }
    return 0;
}

void TMainForm::CreateMenuBar() {
    for (const MenuCommandSetup& setup : kMenuCommands) {
        menuImages_[std::size_t(setup.command)].reset(MenuPicture(setup.command));
    }
    // Owned by the window once set: destroyed with it.
    const HMENU bar = ::CreateMenu();
    for (const MenuSetup& setup : MenuBarLayout()) {
        const HMENU popup = ::CreatePopupMenu();
        for (const MenuCommand entry : setup.entries) {
            if (entry == kSeparator) {
                ::AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            const std::wstring caption = win::ToWide(CommandSetup(entry).caption);
            MENUITEMINFOW item{};
            item.cbSize = sizeof(item);
            item.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP;
            item.wID = UINT(CommandId(entry));
            item.dwTypeData = const_cast<wchar_t*>(caption.c_str());
            item.hbmpItem = menuImages_[std::size_t(entry)].get();
            ::InsertMenuItemW(popup, UINT(::GetMenuItemCount(popup)), TRUE, &item);
        }
        ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup),
                      win::ToWide(setup.caption).c_str());
    }
    ::SetMenu(Hwnd(), bar);
    listViewCopy1_.imageIndex = int(MenuCommand::kCopy);
    listViewPrint_.imageIndex = int(MenuCommand::kPrint);
}

bool TMainForm::ExecuteCommand(int id) {
    // The list as a target when it has the focus; the list actions work on List anyway.
    ReportList* target = list_.HasFocus() ? &list_ : nullptr;
    switch (id) {
        case kPrintCommand: {
            TGdiListPrinter printer(Hwnd());
            listViewPrint_.Execute(target, printer);
            return true;
        }
        case kCopyCommand:
            ExecuteCopy(Hwnd(), listViewCopy1_, target);
            return true;
        case kReadmeCommand:
            ReademFileActionExecute();
            return true;
        case kAboutCommand:
            HelpAboutActionExecute();
            return true;
        default:
            return false;
    }
}

void TMainForm::MenuSelect(UINT item, UINT flags, HMENU menu) {
    const bool closed = flags == 0xFFFF && menu == nullptr;
    if (!menuHint_ && !closed) {
        wchar_t text[1024] = {};
        ::SendMessageW(statusBar_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
        statusBeforeMenu_ = text;
        menuHint_ = true;
    }
    if (closed) {
        if (menuHint_) {
            ::SendMessageW(statusBar_, SB_SETTEXTW, 0,
                           reinterpret_cast<LPARAM>(statusBeforeMenu_.c_str()));
            menuHint_ = false;
        }
        return;
    }
    std::wstring hint;
    if (!(flags & (MF_POPUP | MF_SEPARATOR))) {
        for (const MenuCommandSetup& setup : kMenuCommands) {
            if (UINT(CommandId(setup.command)) == item) {
                hint = win::ToWide(LongHint(setup.hint));
            }
        }
    }
    ::SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(hint.c_str()));
}

std::wstring TMainForm::ReadmePath() {
    const std::wstring program = ProgramPath();
    const std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    return win::ToWide(ReadmeCandidates(win::ToUtf8(folder), false).front());
}

void TMainForm::ReademFileActionExecute() {
    // The shell says nothing when the file is missing, and neither does the window.
    ShellOpen()(ReadmePath());
}

void TMainForm::HelpAboutActionExecute() {
    TAboutBox box(Hwnd(), win::ToUtf8(ReadmePath()));
    box.ShowModal();
}

}  // namespace packmeter::win32
