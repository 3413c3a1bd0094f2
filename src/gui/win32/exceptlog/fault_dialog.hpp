#pragma once

#include <windows.h>

#include <string>

#include "core/exceptlog/fault_dialog.hpp"

namespace packmeter::win32 {

// Control ids of the error dialog and its pages.
enum FaultDialogControl : int {
    kFaultCloseButton = 2,
    kFaultTerminateButton = 3,
    kFaultDetailsButton = 4,
    kFaultHeader = 101,
    kFaultPageHeader = 102,
    kFaultPageBox = 103,
    kFaultTabs = 1000,
};

// Shows the error dialog in the calling thread, modal to no window of the program: beeps,
// remembers the foreground window and gives it back afterwards.
FaultDialogResult ShowFaultDialog(const FaultDialogData& data);

// Makes the logger show its error dialog in this program.
void InstallFaultDialog();

// "FaultLog.ini" in the user's application-data folder, where the dialog writes its place, and
// the copy in the Windows folder that older versions left, read when the first is missing.
std::wstring FaultDialogCoordinatesFile();
std::wstring FaultDialogLegacyCoordinatesFile();

}  // namespace packmeter::win32
