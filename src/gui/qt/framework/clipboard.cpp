#include "gui/qt/framework/clipboard.hpp"

#include <QClipboard>
#include <QGuiApplication>

#include "gui/qt/framework/qt_text.hpp"

namespace packmeter::qt {

void SetClipboardText(std::string_view text) {
    QGuiApplication::clipboard()->setText(Text(text));
}

}  // namespace packmeter::qt
