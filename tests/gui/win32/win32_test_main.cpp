#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include <gtest/gtest.h>

#include "gui/win32/shell/shell_namespace.hpp"

// The program's start-up for every test: the shell environment and the common controls.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    packmeter::win32::ShellEnvironment shell;
    if (!shell.Ready()) {
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    return RUN_ALL_TESTS();
}
