#pragma once

#include <QWidget>
#include <memory>
#include <utility>

namespace packmeter::qt {

// The one ownership style of the Qt window: a Qt object with a parent is made with MakeOwned and
// belongs to its parent, which deletes it with itself; one without a parent (a menu shown on its
// own, a dialog on the stack) is held by std::unique_ptr or lives on the stack. No naked new.
//
// Makes a Qt object whose constructor receives its parent among `args`, or that is handed at
// once to a Qt call that takes it over (QTabWidget::addTab): from then on the parent owns it.
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
