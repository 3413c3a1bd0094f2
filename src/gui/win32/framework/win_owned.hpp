#pragma once

// Owners for the user-interface resources of the window layer: windows, device contexts, GDI
// objects and their selection into a device context, image lists, global memory, COM interfaces
// and the shell's item-id lists. Each releases what it holds exactly once.

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace packmeter::win32 {

struct WindowDestroyer {
    void operator()(HWND hwnd) const { ::DestroyWindow(hwnd); }
};
using UniqueHwnd = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

struct GdiDeleter {
    void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;
using UniquePen = std::unique_ptr<std::remove_pointer_t<HPEN>, GdiDeleter>;

// A memory device context of the program's own (CreateCompatibleDC).
struct DcDeleter {
    void operator()(HDC dc) const { ::DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

// The device context of a window, or of the whole screen for a null window (GetDC), released
// when the owner ends.
class WindowDc {
  public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_) {
            ::ReleaseDC(hwnd_, dc_);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc_; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// A GDI object selected into a device context for as long as the owner lives; the object it
// replaced is selected back when it ends.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (old_) {
            ::SelectObject(dc_, old_);
        }
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ old_;
};

struct ImageListDestroyer {
    void operator()(HIMAGELIST list) const { ::ImageList_Destroy(list); }
};
// Only for image lists the program made itself: the shell's shared lists are never destroyed.
using UniqueImageList = std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, ImageListDestroyer>;

struct MenuDestroyer {
    void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;

// Movable global memory (GlobalAlloc), as the clipboard takes it.
struct GlobalFreer {
    void operator()(void* memory) const { ::GlobalFree(memory); }
};
using UniqueGlobal = std::unique_ptr<void, GlobalFreer>;

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Item-id lists come from the shell allocator, which is the COM task allocator.
struct PidlFreer {
    void operator()(ITEMIDLIST* list) const { ::CoTaskMemFree(list); }
};
using UniquePidl = std::unique_ptr<ITEMIDLIST, PidlFreer>;

// A counted reference to a COM interface.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For functions that hand out a new reference.
    T** put() {
        reset();
        return &ptr_;
    }
    void reset() {
        if (ptr_) {
            ptr_->Release();
            ptr_ = nullptr;
        }
    }

  private:
    T* ptr_ = nullptr;
};

}  // namespace packmeter::win32
