#pragma once

#include <QWidget>
#include <memory>
#include <utility>

namespace packmeter::qt {

// Makes a Qt object whose constructor receives its parent among `args`: from then on the
// parent owns it and deletes it with itself.
template <typename T, typename... Args>
T* MakeOwned(Args&&... args) {
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

// A length laid out for 96 dpi, on `widget`'s screen. Qt already scales by the screen's device
// pixel ratio; what is left is a font DPI above 96.
inline int Scaled(const QWidget& widget, int pixels) {
    return qRound(pixels * widget.logicalDpiX() / 96.0);
}

}  // namespace packmeter::qt
