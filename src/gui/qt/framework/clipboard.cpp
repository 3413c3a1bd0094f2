#include "gui/qt/framework/clipboard.hpp"

#include <QClipboard>
#include <QGuiApplication>

#include "gui/qt/framework/qt_text.hpp"

namespace packmeter::qt {

bool SetClipboardText(std::string_view text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString wanted = Text(text);
    clipboard->setText(wanted);
    // The desktop may refuse the program the clipboard: it then still holds another text.
    return clipboard->text() == wanted;
}

}  // namespace packmeter::qt
