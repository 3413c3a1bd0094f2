#pragma once

#include <memory>
#include <utility>

namespace packmeter::qt {

// Makes a Qt object whose constructor receives its parent among `args`: from then on the
// parent owns it and deletes it with itself.
template <typename T, typename... Args>
T* MakeOwned(Args&&... args) {
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

}  // namespace packmeter::qt
