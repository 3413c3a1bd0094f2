#include "tests/gui/win32/win32_test_support.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "gui/win32/framework/window.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32::testing {

namespace {

struct DialogSearch {
    const std::wstring* title;
    HWND found = nullptr;
};

BOOL CALLBACK MatchOwnDialog(HWND hwnd, LPARAM data) {
    auto& search = *reinterpret_cast<DialogSearch*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    wchar_t name[16] = {};
    ::GetClassNameW(hwnd, name, 16);
    wchar_t title[256] = {};
    ::GetWindowTextW(hwnd, title, 256);
    if (process == ::GetCurrentProcessId() && std::wstring(name) == L"#32770" &&
        ::IsWindowVisible(hwnd) && (search.title->empty() || *search.title == title)) {
        search.found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindOwnDialog(const std::wstring& title) {
    DialogSearch search{&title};
    ::EnumWindows(&MatchOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ProcessPendingMessages();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void Pump(int ms) {
    WaitFor([] { return false; }, ms);
}

TempTree::TempTree() {
    static int counter = 0;
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() /
        ("pm-w32-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(base);
    path_ = win::ToUtf8(base.wstring()) + "\\";
}

TempTree::~TempTree() {
    std::error_code error;
    std::filesystem::remove_all(win::ToWide(path_), error);
}

void TempTree::Folder(const std::string& relative) {
    std::filesystem::create_directories(win::ToWide(path_ + relative));
}

void TempTree::File(const std::string& relative, std::size_t bytes) {
    std::ofstream out(std::filesystem::path(win::ToWide(path_ + relative)), std::ios::binary);
    out << std::string(bytes, 'x');
}

void ClickAt(POINT screen) {
    ::SetCursorPos(screen.x, screen.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, inputs, sizeof(INPUT));
}

void PressKeys(const std::vector<WORD>& keys) {
    std::vector<INPUT> inputs;
    for (const WORD key : keys) {
        INPUT down{};
        down.type = INPUT_KEYBOARD;
        down.ki.wVk = key;
        inputs.push_back(down);
    }
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        INPUT up{};
        up.type = INPUT_KEYBOARD;
        up.ki.wVk = *it;
        up.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(up);
    }
    ::SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

void ShotPause(HWND window, const std::string& name) {
    char pause[32] = {};
    if (!::GetEnvironmentVariableA("PACKMETER_SHOT_PAUSE", pause, sizeof(pause))) {
        return;
    }
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::printf("shot %s\n", name.c_str());
    std::fflush(stdout);
    Pump(std::atoi(pause));
}

}  // namespace packmeter::win32::testing
