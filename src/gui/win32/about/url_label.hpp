#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/framework/window.hpp"

namespace packmeter::win32 {

// Opens a document or address with the shell's "open" verb, with `owner` as the owner of any
// window the shell shows; the reason when it could not, else empty. Replaceable, so that tests
// can see what would be opened.
using ShellOpener = std::function<std::string(const std::wstring& target, HWND owner)>;
ShellOpener& ShellOpen();

// Puts `text` on the clipboard as Unicode text.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);

// A text label that looks and acts like a hyperlink: blue and underlined under the hand cursor,
// in ActiveColor while the left button is held on it, opening its URL (or, without one, its
// caption) with the shell when clicked. A right click shows its own menu, whose "Copy" copies
// the caption.
class TUrlLabel final : public Window {
  public:
    TUrlLabel(HWND parent, const std::string& caption, int x, int y, HFONT font);
    ~TUrlLabel() override;

    const std::string& Caption() const { return caption_; }
    const std::string& URL() const { return url_; }
    void SetURL(std::string url) { url_ = std::move(url); }
    COLORREF ActiveColor() const { return activeColor_; }
    void SetActiveColor(COLORREF colour) { activeColor_ = colour; }
    COLORREF CaptionColor() const { return colour_; }
    // What the context menu's "Copy" does.
    void CopyCaption();

    // The left button went down on the label, and a click (down and up on it) opened its target.
    std::function<void()> onMouseDown;
    std::function<void()> onClick;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void SetColour(COLORREF colour);
    void Click();

    std::string caption_;
    std::string url_;
    UniqueFont font_;
    COLORREF colour_ = RGB(0, 0, 255);
    COLORREF activeColor_ = RGB(128, 0, 128);
    COLORREF savedColour_ = RGB(0, 0, 255);
    bool pressed_ = false;
};

}  // namespace packmeter::win32
