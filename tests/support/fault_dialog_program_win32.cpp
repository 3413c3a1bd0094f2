// A Win32 window program with the fault logger that fails in the way its first argument names,
// and works the logger's error dialog from a thread of its own as %FAULTLOG_SCRIPT% says,
// printing what it finds. Its second argument is a file to which every start appends the
// process id; a restarted program (a second line) ends at once.

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/exceptlog/fault_threads.hpp"
#include "gui/win32/exceptlog/fault_dialog.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/utils/win_path.hpp"

using namespace packmeter::win32;
using packmeter::win::ToUtf8;

int* volatile gNowhere = nullptr;

[[gnu::noinline]] void WriteThroughNull() {
    *gNowhere = 42;
}

[[gnu::noinline]] void SleepInMainThread() {
    ::Sleep(3500);
}

namespace {

constexpr UINT_PTR kThrowTimer = 1;
constexpr UINT_PTR kNullTimer = 2;
constexpr UINT_PTR kFreezeTimer = 3;
constexpr UINT_PTR kQuitTimer = 4;
constexpr UINT_PTR kModalTimer = 5;

std::string gKind;
int gErrors = 0;
std::atomic<int> gDialogsDone{0};
std::atomic<bool> gDialogOpen{false};

std::string Script() {
    const char* script = std::getenv("FAULTLOG_SCRIPT");
    return script ? script : "";
}

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

std::string Rect(HWND hwnd) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

std::string Text(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), int(text.size()))));
    return ToUtf8(text);
}

// With %FAULTLOG_SHOT_PAUSE% (milliseconds) the dialog stays as it is that long, after "shot
// <name>", for a screenshot taken from outside.
void Shot(const char* name) {
    if (const char* pause = std::getenv("FAULTLOG_SHOT_PAUSE")) {
        Say(std::string("shot ") + name);
        ::Sleep(static_cast<DWORD>(std::atoi(pause)));
    }
}

HWND gFound = nullptr;
BOOL CALLBACK FindErrorDialog(HWND hwnd, LPARAM) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    wchar_t className[16] = {};
    ::GetClassNameW(hwnd, className, 16);
    if (process == ::GetCurrentProcessId() && std::wstring(className) == L"#32770" &&
        ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, kFaultTabs)) {
        gFound = hwnd;
        return FALSE;
    }
    return TRUE;
}

void Press(HWND dialog, int id) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void Drive(HWND dialog, int number) {
    HWND header = ::GetDlgItem(dialog, kFaultHeader);
    HWND terminate = ::GetDlgItem(dialog, kFaultTerminateButton);
    const int frameWidth = ::GetSystemMetrics(SM_CXDLGFRAME);
    HDC dc = ::GetDC(header);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(header, WM_GETFONT, 0, 0)));
    const std::wstring message = packmeter::win::ToWide(Text(header));
    RECT text{0, 0, 640 - (2 * frameWidth + 58), 0};
    ::DrawTextW(dc, message.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(header, dc);
    Say("dialog " + std::to_string(number) + " \"" + Text(dialog) + "\" \"" + Text(header) + "\"");
    Say("collapsed " + Rect(dialog) + " text " + std::to_string(text.right) + " " +
        std::to_string(text.bottom) + " frame " + std::to_string(frameWidth) + " " +
        std::to_string(::GetSystemMetrics(SM_CYDLGFRAME)) + " " +
        std::to_string(::GetSystemMetrics(SM_CYSMCAPTION)));
    Say(std::string("terminate ") + (::IsWindowVisible(terminate) ? "shown" : "hidden") + " \"" +
        Text(terminate) + "\"");
    Shot("win32-collapsed");
    Press(dialog, kFaultDetailsButton);
    std::string expanded = Text(header);
    expanded = expanded.substr(0, expanded.find('\r'));
    Say("expanded " + Rect(dialog) + " \"" + expanded + "\"");
    Shot("win32-expanded-general");
    HWND tabs = ::GetDlgItem(dialog, kFaultTabs);
    ::SendMessageW(tabs, TCM_SETCURSEL, 1, 0);
    NMHDR change{tabs, static_cast<UINT_PTR>(kFaultTabs), static_cast<UINT>(TCN_SELCHANGE)};
    ::SendMessageW(dialog, WM_NOTIFY, kFaultTabs, reinterpret_cast<LPARAM>(&change));
    HWND page = ::FindWindowExW(dialog, nullptr, L"#32770", nullptr);
    HWND list = page ? ::GetDlgItem(page, kFaultPageBox) : nullptr;
    const int rows = list ? static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    for (int row = 0; row < rows; ++row) {
        std::string line = "row ";
        for (int c = 0; c < 6; ++c) {
            wchar_t cell[512] = {};
            LVITEMW item{};
            item.iSubItem = c;
            item.pszText = cell;
            item.cchTextMax = 512;
            ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                           reinterpret_cast<LPARAM>(&item));
            line += (c ? "|" : "") + ToUtf8(cell);
        }
        LVITEMW image{};
        image.mask = LVIF_IMAGE;
        image.iItem = row;
        ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&image));
        Say(line + " icon " + std::to_string(image.iImage));
    }
    Shot("win32-expanded-details");
    ::SetWindowPos(dialog, nullptr, 60, 50, 520, 330, SWP_NOZORDER | SWP_NOACTIVATE);
    Press(dialog, kFaultDetailsButton);
    Say("collapsed again " + Rect(dialog));
    const bool end =
        Script().find("terminate") != std::string::npos && ::IsWindowVisible(terminate);
    Press(dialog, end ? kFaultTerminateButton : kFaultCloseButton);
}

void Driver() {
    for (int number = 1;; ++number) {
        gFound = nullptr;
        while (!gFound) {
            ::Sleep(20);
            ::EnumWindows(FindErrorDialog, 0);
        }
        gDialogOpen = true;
        Drive(gFound, number);
        while (::IsWindow(gFound)) {
            ::Sleep(10);
        }
        gDialogOpen = false;
        ++gDialogsDone;
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        try {
            switch (wParam) {
                case kThrowTimer:
                    // One error at a time, each once the last one's dialog is gone.
                    if (gDialogOpen || gDialogsDone < gErrors) {
                        return 0;
                    }
                    if (++gErrors > (gKind == "throw" ? 5 : 1)) {
                        ::PostQuitMessage(0);
                        return 0;
                    }
                    throw std::runtime_error(
                        gKind == "throw-long"
                            ? std::string(40, 'x') + " " + std::string(60, 'y') + " " +
                                  std::string(50, 'z') + " " + std::string(70, 'w') + " " +
                                  std::string(70, 'v') + " does not fit on one line"
                            : "No room on the list");
                case kNullTimer:
                    ::KillTimer(hwnd, kNullTimer);
                    WriteThroughNull();
                    return 0;
                case kFreezeTimer:
                    ::KillTimer(hwnd, kFreezeTimer);
                    SleepInMainThread();
                    Say("woke");
                    return 0;
                case kModalTimer:
                    ::KillTimer(hwnd, kModalTimer);
                    // A box of the program's own, closed from another thread after 3.5 s.
                    std::thread([] {
                        ::Sleep(3500);
                        HWND box = ::FindWindowW(L"#32770", L"Busy");
                        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                    }).detach();
                    ::MessageBoxW(hwnd, L"A dialog of the program's own", L"Busy", MB_OK);
                    return 0;
                case kQuitTimer:
                    ::PostQuitMessage(0);
                    return 0;
            }
        } catch (...) {
            if (packmeter::FaultLogExceptionManager()) {
                Say("left to the program");
            }
            return 0;
        }
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    packmeter::InstallFaultLogger(true);
    InstallFaultDialog();
    gKind = argc > 1 ? argv[1] : "";
    if (argc > 2) {
        std::ifstream before(argv[2]);
        std::string line;
        const bool restarted = static_cast<bool>(std::getline(before, line));
        std::ofstream(argv[2], std::ios::app) << ::GetCurrentProcessId() << std::endl;
        if (restarted) {
            return 0;
        }
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FaultDialogProgram";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, L"FaultDialogProgram", L"Fault dialog program",
                                    WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
    // A control with the focus, for the report's Active Controls lines.
    HWND button = ::CreateWindowExW(0, L"BUTTON", L"Go on", WS_CHILD | WS_VISIBLE, 10, 10, 100, 30,
                                    window, nullptr, windowClass.hInstance, nullptr);
    ::SetForegroundWindow(window);
    ::SetFocus(button);
    std::thread(Driver).detach();
    if (gKind == "throw" || gKind == "throw-long") {
        ::SetTimer(window, kThrowTimer, 100, nullptr);
    } else if (gKind == "null") {
        ::SetTimer(window, kNullTimer, 50, nullptr);
    } else if (gKind == "freeze") {
        ::SetTimer(window, kFreezeTimer, 300, nullptr);
        ::SetTimer(window, kQuitTimer, 4500, nullptr);
    } else if (gKind == "responsive") {
        ::SetTimer(window, kQuitTimer, 4500, nullptr);
    } else if (gKind == "modal") {
        ::SetTimer(window, kModalTimer, 300, nullptr);
        ::SetTimer(window, kQuitTimer, 4500, nullptr);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    std::cout.flush();
    // The driver thread may still wait for a dialog.
    std::_Exit(0);
}
