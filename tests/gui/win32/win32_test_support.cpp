#include "win32_test_support.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "framework/window.hpp"
#include "utils/win_path.hpp"

namespace packmeter::win32::testing {

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
    const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                       ("pm-w32-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                        std::to_string(++counter));
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

void SaveShot(HWND window, const std::string& name) {
    char dir[1024] = {};
    if (!::GetEnvironmentVariableA("PACKMETER_SHOTS", dir, sizeof(dir))) {
        return;
    }
    RECT bounds{};
    ::GetWindowRect(window, &bounds);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::PrintWindow(window, memory, 0);
    ::SelectObject(memory, old);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + DWORD(width * height * 4);
    std::ofstream out(std::string(dir) + "\\" + name + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
    out.write(static_cast<const char*>(bits), std::streamsize(width) * height * 4);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

}  // namespace packmeter::win32::testing
