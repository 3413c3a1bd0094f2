#include "gui/qt/exceptlog/fault_log_application.hpp"

#include <QMessageBox>
#include <QWidget>

#include <chrono>
#include <exception>
#include <thread>

#include "core/exceptlog/fault_texts.hpp"
#include "core/exceptlog/freeze_thread.hpp"
#include "gui/qt/exceptlog/fault_dialog.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter::qt {

TFaultLogApplication::TFaultLogApplication(int& argc, char** argv) : QApplication(argc, argv) {
    SetFaultDialogPresenter(ShowFaultDialog);
    SetMainWindowProbe([this](int milliseconds) { return Heartbeat(milliseconds); });
}

TFaultLogApplication::~TFaultLogApplication() {
    SetMainWindowProbe(nullptr);
    SetFaultDialogPresenter(nullptr);
}

bool TFaultLogApplication::Heartbeat(int milliseconds) {
    // One beat at a time: while the loop has not taken the last one, waiting for it goes on.
    if (heartbeatAnswered_ == heartbeatSent_) {
        const unsigned beat = ++heartbeatSent_;
        QMetaObject::invokeMethod(
            this, [this, beat] { heartbeatAnswered_ = beat; }, Qt::QueuedConnection);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (heartbeatAnswered_ != heartbeatSent_) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

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
