// The main window's menu bar and the commands behind it that are not the scan's own.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>

#include "core/about/about_texts.hpp"
#include "core/app/list_order.hpp"
#include "core/app/main_menu.hpp"
#include "core/utils/text.hpp"
#include "gui/win32/about/about_box.hpp"
#include "gui/win32/app/main_form.hpp"
#include "gui/win32/app/shell_launcher.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/listview/list_view_actions.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr int kPictureSize = 16;
constexpr Rgb kMenuBarColour{0xF7, 0xF6, 0xEE};

// The command whose entry has the id `id`, if any.
const MenuCommandSetup* CommandOfId(UINT id) {
    for (const MenuCommandSetup& setup : kMenuCommands) {
        if (UINT(TMainForm::CommandId(setup.command)) == id) {
            return &setup;
        }
    }
    return nullptr;
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
    // Owned by the window once set: destroyed with it.
    const HMENU bar = ::CreateMenu();
    for (const MenuSetup& setup : MenuBarLayout()) {
        const HMENU popup = ::CreatePopupMenu();
        for (const MenuCommand entry : setup.entries) {
            if (entry == kSeparator) {
                ::AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            const std::wstring caption = win::ToWide(MenuEntryText(entry, false));
            MENUITEMINFOW item{};
            item.cbSize = sizeof(item);
            item.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP;
            item.wID = UINT(CommandId(entry));
            item.dwTypeData = const_cast<wchar_t*>(caption.c_str());
            // Drawn by the window when the menu asks (WM_DRAWITEM): menus of older systems and
            // of Wine draw the transparent pixels of a bitmap black.
            item.hbmpItem = HBMMENU_CALLBACK;
            ::InsertMenuItemW(popup, UINT(::GetMenuItemCount(popup)), TRUE, &item);
        }
        ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup),
                      win::ToWide(setup.caption).c_str());
    }
    // The bar in the cream of the original form's unused bar area, where the menu text stays
    // readable on it (a high-contrast scheme keeps its own bar), as the Qt window does. The
    // native bar draws its highlight in the system's colour and its entries in the system's
    // menu font: changing those would take owner-drawn bar entries, which would also have to
    // draw the underlined access keys, the pressed state and the system's menu animation
    // themselves, so the bar keeps them.
    const COLORREF text = ::GetSysColor(COLOR_MENUTEXT);
    if (ContrastRatio(kMenuBarColour, {GetRValue(text), GetGValue(text), GetBValue(text)}) >=
        kTextContrast) {
        // Kept for the program's life: every main window's bar shares it.
        static const UniqueBrush brush(
            ::CreateSolidBrush(RGB(kMenuBarColour.red, kMenuBarColour.green, kMenuBarColour.blue)));
        MENUINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = MIM_BACKGROUND;
        info.hbrBack = brush.get();
        ::SetMenuInfo(bar, &info);
    }
    ::SetMenu(Hwnd(), bar);
    listViewCopy1_.imageIndex = int(MenuCommand::kCopy);
    listViewPrint_.imageIndex = int(MenuCommand::kPrint);
}

void TMainForm::UpdateListActions(HMENU popup) {
    ReportList* target = list_.HasFocus() ? &list_ : nullptr;
    for (const auto& [action, id] :
         {std::pair<TListViewAction*, int>{&listViewCopy1_, kCopyCommand},
          std::pair<TListViewAction*, int>{&listViewPrint_, kPrintCommand}}) {
        action->UpdateTarget(action->HandlesTarget(target) ? action->ListFor(target) : nullptr);
        ::EnableMenuItem(popup, UINT(id),
                         MF_BYCOMMAND | (action->enabled ? MF_ENABLED : MF_GRAYED));
    }
}

bool TMainForm::ExecuteCommand(int id) {
    // The list as a target when it has the focus; the list actions work on List anyway.
    ReportList* target = list_.HasFocus() ? &list_ : nullptr;
    if ((id == kCopyCommand && !listViewCopy1_.HandlesTarget(target)) ||
        (id == kPrintCommand && !listViewPrint_.HandlesTarget(target))) {
        return true;
    }
    switch (id) {
        case kPrintCommand: {
            // The folder is the first page's title.
            listViewPrint_.header = ToDisplayText(logic_->CurrentFolder());
            GdiListPrinter printer(Hwnd());
            listViewPrint_.Execute(target, printer);
            if (!printer.Failure().empty()) {
                ShowMessage(printer.Failure());
            }
            return true;
        }
        case kCopyCommand:
            if (!ExecuteCopy(Hwnd(), listViewCopy1_, target)) {
                ShowMessage("Cannot put the list on the clipboard: another program holds it.");
            }
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

bool TMainForm::MeasureMenuPicture(MEASUREITEMSTRUCT& item) const {
    if (item.CtlType != ODT_MENU || !CommandOfId(item.itemID)) {
        return false;
    }
    // A gap after the picture: Wine's menus start the caption right at its edge.
    item.itemWidth = UINT(Scaled(kPictureSize + 4));
    item.itemHeight = UINT(Scaled(kPictureSize));
    return true;
}

bool TMainForm::DrawMenuPicture(const DRAWITEMSTRUCT& item) const {
    const MenuCommandSetup* setup = item.CtlType == ODT_MENU ? CommandOfId(item.itemID) : nullptr;
    if (!setup) {
        return false;
    }
    const CommandPicture& picture = FallbackPicture(setup->command);
    const int pixel = std::max(1, Scaled(kPictureSize) / kPictureSize);
    const int left = item.rcItem.left;
    const int top =
        item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - pixel * kPictureSize) / 2;
    for (int y = 0; y < kPictureSize; ++y) {
        for (int x = 0; x < kPictureSize; ++x) {
            for (const PictureColour& colour : PictureColours()) {
                if (colour.key != picture[std::size_t(y)][x]) {
                    continue;
                }
                const RECT dot{left + x * pixel, top + y * pixel, left + (x + 1) * pixel,
                               top + (y + 1) * pixel};
                UniqueBrush brush(::CreateSolidBrush(RGB(colour.red, colour.green, colour.blue)));
                ::FillRect(item.hDC, &dot, brush.get());
            }
        }
    }
    return true;
}

void TMainForm::MenuSelect(UINT item, UINT flags, HMENU menu) {
    const bool closed = flags == 0xFFFF && menu == nullptr;
    if (closed) {
        // The status text set meanwhile, or the one the menu covered, comes back.
        if (menuHint_) {
            menuHint_ = false;
            ShowStatus();
        }
        return;
    }
    menuHint_ = true;
    std::wstring hint;
    if (!(flags & (MF_POPUP | MF_SEPARATOR))) {
        if (const MenuCommandSetup* setup = CommandOfId(item)) {
            hint = win::ToWide(LongHint(setup->hint));
        }
    }
    ::SendMessageW(statusBar_.Hwnd(), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(hint.c_str()));
}

std::wstring TMainForm::ReadmePath() {
    const std::wstring program = ProgramPath();
    const std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    return win::ToWide(ReadmeCandidates(win::ToUtf8(folder), false).front());
}

void TMainForm::ReademFileActionExecute() {
    // Opened over the main window; a readme that is missing or that nothing opens is said so.
    const std::string problem = ShellOpen()(ReadmePath(), Hwnd());
    if (!problem.empty()) {
        ShowMessage(::GetFileAttributesW(ReadmePath().c_str()) == INVALID_FILE_ATTRIBUTES
                        ? std::string(kReadmeMissingText)
                        : "Cannot open the readme: " + problem);
    }
}

void TMainForm::HelpAboutActionExecute() {
    TAboutBox box(Hwnd(), win::ToUtf8(ReadmePath()));
    box.ShowModal();
}

}  // namespace packmeter::win32
