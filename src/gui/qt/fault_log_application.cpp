#include "gui/qt/fault_log_application.hpp"

#include <QMessageBox>
#include <QWidget>

#include <exception>

#include "platform/fault_logger.hpp"

namespace packmeter::qt {

namespace {

// The text of the exception being handled, ended by a full stop as the logger's messages are.
std::string CurrentExceptionMessage() {
    std::string message = "Unknown exception";
    try {
        throw;
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
    }
    if (message.empty() || message.back() != '.') {
        message += '.';
    }
    return message;
}

}  // namespace

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
