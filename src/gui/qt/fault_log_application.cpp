#include "gui/qt/fault_log_application.hpp"

#include <QMessageBox>
#include <QWidget>

#include <exception>

#include "core/exceptlog/fault_texts.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter::qt {

TFaultLogApplication::TFaultLogApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TFaultLogApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (FaultLogExceptionManager()) {
            ShowError(CurrentExceptionMessage());
        }
        return false;
    }
}

void TFaultLogApplication::SetErrorDisplay(std::function<void(const std::string&)> display) {
    display_ = std::move(display);
}

void TFaultLogApplication::ShowError(const std::string& message) {
    if (display_) {
        display_(message);
        return;
    }
    QMessageBox::critical(activeWindow(), applicationName(), QString::fromStdString(message));
}

}  // namespace packmeter::qt
