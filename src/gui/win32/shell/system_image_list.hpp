#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include "gui/win32/framework/win_owned.hpp"

namespace packmeter::win32 {

enum TQelImageListSize { si_small, si_large };

// The shell's system icon list, small or large. Shared, it only refers to the shell's list and
// never destroys it; not shared, it holds its own copy of the images.
class TQelSystemImageList {
  public:
    TQelSystemImageList();

    HIMAGELIST Handle() const { return own_ ? own_.get() : shared_; }
    TQelImageListSize Size() const { return size_; }
    void SetSize(TQelImageListSize size);
    bool ShareImages() const { return share_; }
    void SetShareImages(bool share);
    void RefreshSystemList();

  private:
    TQelImageListSize size_ = si_small;
    bool share_ = true;
    HIMAGELIST shared_ = nullptr;
    UniqueImageList own_;
};

}  // namespace packmeter::win32
