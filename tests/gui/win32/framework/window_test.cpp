#include <gtest/gtest.h>

#include <stdexcept>

#include "gui/win32/framework/window.hpp"

namespace packmeter::win32 {
namespace {

constexpr UINT kThrowMessage = WM_APP + 7;

class ThrowingWindow : public Window {
  public:
    ThrowingWindow() {
        CreateWindowOf(L"PackmeterThrowingWindow", 0, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                       nullptr);
    }
    ~ThrowingWindow() override { DestroyNow(); }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kThrowMessage) {
            throw std::runtime_error("No room on the list");
        }
        if (message == WM_APP) {
            return 42;
        }
        return Window::HandleMessage(message, wParam, lParam);
    }
};

// The tests run without a logger data block, as the delivered program does.
TEST(WindowTest, AnExceptionWhileHandlingAMessageShowsItsMessageAndTheWindowGoesOn) {
    std::vector<std::string> shown;
    SetWindowErrorDisplay([&](const std::string& message) { shown.push_back(message); });
    ThrowingWindow window;
    ASSERT_TRUE(window.Hwnd());
    EXPECT_EQ(::SendMessageW(window.Hwnd(), kThrowMessage, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(window.Hwnd(), WM_APP, 0, 0), 42);
    SetWindowErrorDisplay(nullptr);
    EXPECT_EQ(shown, std::vector<std::string>{"No room on the list."});
}

}  // namespace
}  // namespace packmeter::win32
