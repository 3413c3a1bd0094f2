#pragma once

#include <QApplication>

#include <functional>
#include <string>

namespace packmeter::qt {

// The application object of the window program. An exception thrown by an event handler stops
// at the event loop: the fault logger reports it, or, while the logger is inactive, the error
// message shows its text; either way the program goes on.
class TFaultLogApplication : public QApplication {
  public:
    TFaultLogApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the message of an exception the logger left to the program; a message box unless
    // replaced.
    void SetErrorDisplay(std::function<void(const std::string&)> display);

  private:
    void ShowError(const std::string& message);

    std::function<void(const std::string&)> display_;
};

}  // namespace packmeter::qt
