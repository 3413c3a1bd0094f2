#include <gtest/gtest.h>

#include <QObject>
#include <QTimer>

#include <stdexcept>

#include "gui/qt/exceptlog/fault_log_application.hpp"

namespace packmeter::qt {
namespace {

class Throwing : public QObject {
  protected:
    void timerEvent(QTimerEvent*) override { throw std::runtime_error("No room on the list"); }
};

// The tests run without a logger data block, as the delivered program does: an exception from
// an event handler shows its message and the event loop goes on.
TEST(FaultLogApplicationTest, AnExceptionFromAnEventHandlerShowsItsMessageAndTheLoopGoesOn) {
    auto* app = static_cast<FaultLogApplication*>(QApplication::instance());
    std::vector<std::string> shown;
    app->SetErrorDisplay([&](const std::string& message) { shown.push_back(message); });
    Throwing throwing;
    const int timer = throwing.startTimer(0);
    bool laterRan = false;
    QTimer::singleShot(30, [&] { laterRan = true; });
    while (!laterRan) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    throwing.killTimer(timer);
    app->SetErrorDisplay(nullptr);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "No room on the list.");
}

}  // namespace
}  // namespace packmeter::qt
