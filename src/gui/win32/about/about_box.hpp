#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "gui/win32/about/url_label.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/framework/window.hpp"

namespace packmeter::win32 {

// The About box: the program's icon, name and version, a notice line, the project's e-mail
// address and web site as links, and a pointer to the command-line tool. Made afresh for each
// showing and shown modally over its owner.
class TAboutBox final : public Window {
  public:
    // `toolPage`: what the command-line tool's link opens.
    TAboutBox(HWND owner, const std::string& toolPage);
    ~TAboutBox() override;

    // Shows the box until it is closed; IDOK for the button or Enter, IDCANCEL otherwise.
    int ShowModal();

    // Called with each box once it is on screen (tests use it to look at the box).
    static std::function<void(TAboutBox&)>& OnShown();

    const std::string& ProductName() const { return productName_; }
    const std::string& Shadow() const { return shadow_; }
    HWND Version() const { return version_; }
    HWND ProgramIcon() const { return programIcon_; }
    TUrlLabel& EmailLink() { return *email_; }
    TUrlLabel& WebLink() { return *web_; }
    TUrlLabel& ToolLink() { return *tool_; }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void FormCreate();
    int Scaled(int pixels) const;
    HWND Label(const char* text, int x, int y);
    void PaintTitle(HDC dc);

    HWND owner_;
    int dpi_ = 96;
    UniqueFont font_;
    UniqueFont titleFont_;
    std::string productName_;
    std::string shadow_;
    HWND version_ = nullptr;
    HWND programIcon_ = nullptr;
    std::unique_ptr<TUrlLabel> email_;
    std::unique_ptr<TUrlLabel> web_;
    std::unique_ptr<TUrlLabel> tool_;
    int result_ = 0;
};

}  // namespace packmeter::win32
