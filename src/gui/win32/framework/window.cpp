#include "gui/win32/framework/window.hpp"

#include <algorithm>
#include <exception>
#include <vector>

#include "core/app/main_form_layout.hpp"
#include "core/exceptlog/fault_texts.hpp"
#include "platform/fault_logger.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

std::vector<KeyPreview*>& KeyPreviews() {
    static std::vector<KeyPreview*> previews;
    return previews;
}

std::function<void(const std::string&)>& ErrorDisplay() {
    static std::function<void(const std::string&)> display;
    return display;
}

// An exception must not pass through the system's dispatch back to the message loop.
void HandleWindowException(HWND hwnd) {
    if (!FaultLogExceptionManager()) {
        return;
    }
    const std::string message = CurrentExceptionMessage();
    if (ErrorDisplay()) {
        ErrorDisplay()(message);
        return;
    }
    ::MessageBoxW(hwnd, win::ToWide(message).c_str(), win::ToWide(kApplicationTitle).c_str(),
                  MB_OK | MB_ICONERROR);
}

}  // namespace

Window::~Window() {
    if (hwnd_) {
        // Messages sent while the window is destroyed find no object any more.
        ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, 0);
    }
}

bool Window::CreateWindowOf(const wchar_t* className, DWORD exStyle, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HICON icon) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW known{};
    known.cbSize = sizeof(known);
    if (!::GetClassInfoExW(instance, className, &known)) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &Window::WindowProc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = className;
        wc.hIcon = icon;
        wc.hIconSm = icon;
        if (!::RegisterClassExW(&wc)) {
            return false;
        }
    }
    const HWND hwnd = ::CreateWindowExW(exStyle, className, L"", style, x, y, width, height, parent,
                                        menu, instance, this);
    return hwnd != nullptr;
}

void Window::DestroyNow() {
    if (hwnd_) {
        ::DestroyWindow(hwnd_.get());
    }
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultHandling(message, wParam, lParam);
}

LRESULT Window::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd_.get(), message, wParam, lParam);
}

LRESULT CALLBACK Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_.reset(hwnd);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // Destroyed from outside (the close button): the object keeps no dead handle.
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        LRESULT result = 0;
        try {
            result = self->HandleMessage(message, wParam, lParam);
        } catch (...) {
            HandleWindowException(hwnd);
        }
        (void)self->hwnd_.release();
        return result;
    }
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        HandleWindowException(hwnd);
        return 0;
    }
}

void SetWindowErrorDisplay(std::function<void(const std::string&)> display) {
    ErrorDisplay() = std::move(display);
}

void AddKeyPreview(KeyPreview* window) {
    KeyPreviews().push_back(window);
}

void RemoveKeyPreview(KeyPreview* window) {
    std::erase(KeyPreviews(), window);
}

void DispatchOne(MSG& message) {
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
        for (KeyPreview* preview : std::vector<KeyPreview*>(KeyPreviews())) {
            preview->PreviewKeyDown(message);
        }
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

int RunMessageLoop() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchOne(message);
    }
    return static_cast<int>(message.wParam);
}

void ProcessPendingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            continue;
        }
        DispatchOne(message);
    }
}

std::string WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), int(text.size()))));
    return win::ToUtf8(text);
}

void SetWindowTextUtf8(HWND hwnd, const std::string& text) {
    ::SetWindowTextW(hwnd, win::ToWide(text).c_str());
}

SIZE TextExtent(HWND hwnd, HFONT font, const std::wstring& text) {
    const WindowDc dc(hwnd);
    const SelectedObject selected(dc.get(), font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &size);
    return size;
}

int RunModalBox(HWND box, HWND owner, const int& result, const std::function<void()>& shown) {
    if (!box) {
        return IDCANCEL;
    }
    ::EnableWindow(owner, FALSE);
    ::ShowWindow(box, SW_SHOWNORMAL);
    ::UpdateWindow(box);
    if (shown) {
        shown();
    }
    int ended = 0;
    MSG message{};
    while (result == 0) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The program is ending: hand the request on to the main loop.
            ::PostQuitMessage(int(message.wParam));
            ended = IDCANCEL;
            break;
        }
        if (!::IsDialogMessageW(box, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    ::EnableWindow(owner, TRUE);
    ::ShowWindow(box, SW_HIDE);
    return ended != 0 ? ended : result;
}

}  // namespace packmeter::win32
