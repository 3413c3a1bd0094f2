#include "platform/windows/utils/win_handle.hpp"

#include <objbase.h>

namespace packmeter::win {

ComApartment::ComApartment()
    : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
    if (initialized_) {
        ::CoUninitialize();
    }
}

}  // namespace packmeter::win
