#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <thread>
#include <vector>

#include "gui/win32/app/main_form.hpp"
#include "gui/win32/app/shell_launcher.hpp"
#include "gui/win32/exceptlog/fault_dialog.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // Stays inactive unless the build's instrumenting step gave the program a data block.
    packmeter::InstallFaultLogger(true);
    using namespace packmeter::win32;
    // The shell fills its icon cache on first use, which takes tens of milliseconds under Wine
    // (the folder's icon as many again): that happens on a thread of its own while the window
    // is made, so that the list and the scan find the icons ready.
    const std::jthread iconCache([] {
        const packmeter::win::ComApartment apartment;
        SHFILEINFOW info{};
        constexpr UINT kSmallIndex = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
        ::SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, kSmallIndex);
        ::SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                         kSmallIndex | SHGFI_USEFILEATTRIBUTES);
    });
    InstallFaultDialog();
    ShellEnvironment shell;
    if (!shell.Ready()) {
        ::MessageBoxW(nullptr, packmeter::win::ToWide(kCannotFindShell).c_str(),
                      packmeter::win::ToWide(packmeter::kApplicationTitle).c_str(),
                      MB_OK | MB_ICONERROR);
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    TMainForm form(WindowsServices(), CommandLineArguments(::GetCommandLineW()));
    if (!form.Hwnd()) {
        return 1;
    }
    form.Show(showCommand);
    return RunMessageLoop();
}
