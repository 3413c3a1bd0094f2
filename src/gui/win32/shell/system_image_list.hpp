#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include <cstdint>

#include "gui/win32/framework/win_owned.hpp"

namespace packmeter::win32 {

// Which of the system's icon lists: small or large icons.
enum class ImageListSize : std::uint8_t { kSmall = 0, kLarge = 1 };
// The names of the form descriptions.
using TQelImageListSize = ImageListSize;
inline constexpr ImageListSize si_small = ImageListSize::kSmall;
inline constexpr ImageListSize si_large = ImageListSize::kLarge;

// The shell's system icon list, small or large. Shared, it only refers to the shell's list and
// never destroys it; not shared, it holds its own copy of the images.
class TQelSystemImageList {
  public:
    TQelSystemImageList();

    HIMAGELIST Handle() const { return own_ ? own_.get() : shared_; }
    ImageListSize Size() const { return size_; }
    void SetSize(ImageListSize size);
    bool ShareImages() const { return share_; }
    void SetShareImages(bool share);
    void RefreshSystemList();

  private:
    ImageListSize size_ = ImageListSize::kSmall;
    bool share_ = true;
    HIMAGELIST shared_ = nullptr;
    UniqueImageList own_;
};

}  // namespace packmeter::win32
