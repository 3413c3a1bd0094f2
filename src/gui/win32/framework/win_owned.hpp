#pragma once

// Owners for the user-interface resources of the window layer: windows, GDI objects, image
// lists, COM interfaces and the shell's item-id lists. Each releases what it holds exactly once.

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

struct ImageListDestroyer {
    void operator()(HIMAGELIST list) const { ::ImageList_Destroy(list); }
};
// Only for image lists the program made itself: the shell's shared lists are never destroyed.
using UniqueImageList = std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, ImageListDestroyer>;

struct MenuDestroyer {
    void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;

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
