#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "gui/win32/framework/win_owned.hpp"

namespace packmeter::win32 {

// A top-level or child window whose messages go to a C++ object. The object outlives its
// window: the destructor destroys the window first.
class Window {
  public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Hwnd() const { return hwnd_.get(); }

  protected:
    // Registers the class `className` once and creates the window of this object.
    bool CreateWindowOf(const wchar_t* className, DWORD exStyle, DWORD style, int x, int y,
                        int width, int height, HWND parent, HMENU menu, HICON icon = nullptr);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam);
    // Destroys the window while the derived object can still handle its last messages; derived
    // classes call it from their destructors.
    void DestroyNow();

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    UniqueHwnd hwnd_;
};

// An exception thrown while a window handles a message stops at the window procedure: the
// fault logger reports it, or, while the logger is inactive, the error message shows its text
// (in a message box unless replaced here); either way the program goes on.
void SetWindowErrorDisplay(std::function<void(const std::string&)> display);

// Keys reach a window that asked to see them before the control that has the focus (WM_KEYDOWN,
// and WM_SYSKEYDOWN for keys held with Alt).
class KeyPreview {
  public:
    virtual ~KeyPreview() = default;
    virtual void PreviewKeyDown(const MSG& message) = 0;
};
void AddKeyPreview(KeyPreview* window);
void RemoveKeyPreview(KeyPreview* window);

// Handles one queued message as the message loop does: the key preview first.
void DispatchOne(MSG& message);
// Runs the message loop until WM_QUIT; returns its exit code.
int RunMessageLoop();
// Handles every message that is waiting now, without blocking; a quit request is dropped.
void ProcessPendingMessages();

// Shows `box` as a modal box of `owner` and runs its messages until `result` is set (by the
// box's buttons) and returns it; `shown` runs once the box is on the screen. A quit request
// ends the box with IDCANCEL and is handed on to the main loop. The owner is enabled again
// before the box is hidden, so that it becomes the active window.
int RunModalBox(HWND box, HWND owner, const int& result, const std::function<void()>& shown);

// The window's text of a control or window, in UTF-8.
std::string WindowText(HWND hwnd);
void SetWindowTextUtf8(HWND hwnd, const std::string& text);
// The size of `text` drawn in `font` on the window's device context.
SIZE TextExtent(HWND hwnd, HFONT font, const std::wstring& text);

}  // namespace packmeter::win32
