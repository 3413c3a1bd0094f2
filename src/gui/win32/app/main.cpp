#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "gui/win32/app/main_form.hpp"
#include "gui/win32/app/shell_launcher.hpp"
#include "gui/win32/exceptlog/fault_dialog.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/utils/win_path.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // Stays inactive unless the build's instrumenting step gave the program a data block.
    packmeter::InstallFaultLogger(true);
    using namespace packmeter::win32;
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
