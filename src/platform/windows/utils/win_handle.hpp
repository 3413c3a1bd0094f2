#pragma once

// Owners for the handle kinds the Windows back end opens. Each closes what it holds exactly once;
// both null and INVALID_HANDLE_VALUE count as empty, since Win32 uses either for "no handle".

#include <windows.h>

namespace packmeter::win {

template <BOOL(WINAPI* Close)(HANDLE)>
class ScopedHandle {
  public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { reset(); }

    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }

    HANDLE release() {
        const HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr) {
        if (*this) {
            Close(handle_);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

// Files, folders, tokens and other kernel objects.
using UniqueHandle = ScopedHandle<&::CloseHandle>;
// Directory listings from FindFirstFileExW.
using FindHandle = ScopedHandle<&::FindClose>;

// COM for the calling thread, for as long as the object lives. A thread that already runs COM
// in another apartment model keeps it (and this object then undoes nothing).
class ComApartment {
  public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool Initialized() const { return initialized_; }

  private:
    bool initialized_ = false;
};

}  // namespace packmeter::win
