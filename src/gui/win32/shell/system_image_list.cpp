#include "gui/win32/shell/system_image_list.hpp"

#include <shellapi.h>

namespace packmeter::win32 {

TQelSystemImageList::TQelSystemImageList() {
    SetShareImages(true);
    SetSize(ImageListSize::kSmall);
}

void TQelSystemImageList::SetSize(ImageListSize size) {
    size_ = size;
    RefreshSystemList();
}

void TQelSystemImageList::SetShareImages(bool share) {
    shared_ = nullptr;
    own_.reset();
    share_ = share;
    RefreshSystemList();
}

void TQelSystemImageList::RefreshSystemList() {
    SHFILEINFOW info{};
    const UINT which = size_ == ImageListSize::kSmall ? SHGFI_SMALLICON : SHGFI_LARGEICON;
    // Any path gives the handle of the whole list; the system root is always there to ask.
    const auto list = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | which));
    own_.reset();
    shared_ = nullptr;
    if (!list) {
        return;
    }
    if (share_) {
        shared_ = list;
    } else {
        own_.reset(::ImageList_Duplicate(list));
    }
}

}  // namespace packmeter::win32
