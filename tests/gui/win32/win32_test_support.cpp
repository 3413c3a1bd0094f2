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
    // Wine gives each test program one of a few process ids again and again, and a tree left
    // behind (a path too long to remove) would show its entries in a later test's folder: the
    // name is one not yet taken.
    static int counter = 0;
    std::filesystem::path base;
    do {
        base =
            std::filesystem::temp_directory_path() /
            ("pm-w32-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter));
    } while (!std::filesystem::create_directory(base));
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

void RightClickAt(POINT screen) {
    ::SetCursorPos(screen.x, screen.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    ::SendInput(2, inputs, sizeof(INPUT));
}

namespace {

constexpr UINT kGetMenuHandle = 0x01E1;  // MN_GETHMENU

BOOL CALLBACK MatchOwnMenu(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) &&
        ::GetClassNameW(window, name, 16) && std::wstring(name) == L"#32768") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

MenuUser::MenuUser(std::wstring choice, int answer, std::string shot)
    : thread_([this, choice = std::move(choice), answer, shot = std::move(shot)] {
          Run(choice, answer, shot);
      }) {}

void MenuUser::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void MenuUser::Run(const std::wstring& choice, int answer, const std::string& shot) {
    HWND window = nullptr;
    for (int i = 0; i < 400 && !window; ++i) {
        ::Sleep(25);
        ::EnumWindows(&MatchOwnMenu, reinterpret_cast<LPARAM>(&window));
    }
    if (!window) {
        return;
    }
    const auto menu = reinterpret_cast<HMENU>(::SendMessageW(window, kGetMenuHandle, 0, 0));
    int downs = 0;
    int target = -1;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
        wchar_t text[256] = {};
        ::GetMenuStringW(menu, UINT(i), text, 256, MF_BYPOSITION);
        std::wstring caption = text;
        std::erase(caption, L'&');
        captions.push_back(caption);
        if (target < 0 && !(::GetMenuState(menu, UINT(i), MF_BYPOSITION) & MF_SEPARATOR)) {
            ++downs;
        }
        if (target < 0 && !choice.empty() && caption == choice) {
            target = i;
        }
    }
    char pause[32] = {};
    if (!shot.empty() && ::GetEnvironmentVariableA("PACKMETER_SHOT_PAUSE", pause, sizeof(pause))) {
        std::printf("shot %s\n", shot.c_str());
        std::fflush(stdout);
        ::Sleep(DWORD(std::atoi(pause)));
    }
    if (target < 0) {
        ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
    }
    for (int i = 0; i < downs; ++i) {
        ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    }
    ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    for (int i = 0; answer != 0 && i < 120; ++i) {
        ::Sleep(25);
        if (const HWND dialog = FindOwnDialog()) {
            ::PostMessageW(dialog, WM_COMMAND, WPARAM(answer), 0);
            confirmed = true;
            return;
        }
    }
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
