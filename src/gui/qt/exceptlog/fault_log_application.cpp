#include "gui/qt/exceptlog/fault_log_application.hpp"

#include <QMessageBox>
#include <QThread>
#include <QVariant>
#include <QWidget>

#include <chrono>
#include <exception>
#include <iostream>
#include <thread>

#include "core/exceptlog/fault_texts.hpp"
#include "gui/qt/exceptlog/fault_dialog.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter::qt {

FaultLogApplication::FaultLogApplication(int& argc, char** argv) : QApplication(argc, argv) {
    SetFaultWindow(this);
    connect(this, &QCoreApplication::aboutToQuit, [] { SendFaultMailAtEnd(); });
}

FaultLogApplication::~FaultLogApplication() {
    SetFaultWindow(nullptr);
}

FaultDialogResult FaultLogApplication::ShowDialog(const FaultDialogData& data) {
    const FaultDialogResult result = ShowFaultDialog(data);
    if (result == FaultDialogResult::kNotShown) {
        // No window could be shown: the message goes where a console program's report goes.
        std::cerr << data.caption << ' ' << data.shortMessage << '\n';
    }
    return result;
}

bool FaultLogApplication::Inform(const std::string& caption, const std::string& text) {
    return RunModalOnWindowThread([&] {
               QMessageBox box(QMessageBox::Information, QString::fromStdString(caption),
                               QString::fromStdString(text), QMessageBox::Ok, activeWindow());
               box.setObjectName("faultFilterMessage");
               box.setWindowFlag(Qt::WindowStaysOnTopHint);
               return box.exec();
           })
        .has_value();
}

bool FaultLogApplication::Ask(const std::string& caption, const std::string& text, bool& yes) {
    const auto answer = RunModalOnWindowThread([&] {
        QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                        QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                        activeWindow());
        box.setObjectName("faultMailQuestion");
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        return box.exec();
    });
    yes = answer == QMessageBox::Yes;
    return answer.has_value();
}

bool FaultLogApplication::Probe(int milliseconds) {
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

void FaultLogApplication::ActiveControls(std::string& formClass, std::string& formText,
                                         std::string& controlClass, std::string& controlText) {
    const std::lock_guard lock(activeLock_);
    formClass = active_[0];
    formText = active_[1];
    controlClass = active_[2];
    controlText = active_[3];
}

void FaultLogApplication::NoteActiveControls() {
    const QWidget* form = activeWindow();
    const QWidget* control = focusWidget();
    const auto text = [](const QWidget* w) {
        if (!w) {
            return std::string{};
        }
        const QVariant value = w->property("text");
        return (value.isValid() ? value.toString() : w->windowTitle()).toStdString();
    };
    const std::lock_guard lock(activeLock_);
    active_[0] = form ? form->metaObject()->className() : "";
    active_[1] = form ? form->windowTitle().toStdString() : "";
    active_[2] = control ? control->metaObject()->className() : "";
    active_[3] = text(control);
}

bool FaultLogApplication::notify(QObject* receiver, QEvent* event) {
    // The report of a fault cannot ask the window's thread: it keeps what it will need.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::FocusIn) {
        NoteActiveControls();
    }
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (FaultLogExceptionManager()) {
            ShowError(CurrentExceptionMessage());
        }
        return false;
    }
}

void FaultLogApplication::SetErrorDisplay(std::function<void(const std::string&)> display) {
    display_ = std::move(display);
}

void FaultLogApplication::ShowError(const std::string& message) {
    if (display_) {
        display_(message);
        return;
    }
    QMessageBox::critical(activeWindow(), applicationName(), QString::fromStdString(message));
}

}  // namespace packmeter::qt
