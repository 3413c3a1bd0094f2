#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace packmeter::win32 {

// The main window's status bar: one line of status, shortened to fit with its whole text in the
// tip over the bar; while a compression command runs, its progress figure and a Cancel button
// (which sends `cancelCommand` to the owner); and over the bar, in the owner's tool tip, the
// entries the last command could not switch.
class MainStatusBar {
  public:
    // Makes the bar at the foot of `owner` at the screen's `dpi`, in `font`; `toolTip` is the
    // owner's tool-tip control.
    void Create(HWND owner, HWND toolTip, HFONT font, int dpi, int cancelCommand);

    HWND Hwnd() const { return bar_; }
    HWND CancelButton() const { return cancelButton_; }
    // The progress bar beside the figure (hidden when the bar leaves it no room).
    HWND ProgressBar() const { return progressBar_; }
    const std::string& ProgressText() const { return progressText_; }

    // Sizes the bar to the owner's foot and lays out its parts.
    void LayOut();
    // The command's figure and how far it has come (whole percent; below 0: not yet known, and
    // the bar moves to and fro); an empty figure: no command runs, and the figure, the bar and
    // the Cancel button go.
    void SetProgress(std::string text, int percent);
    // The entries the last command could not switch; empty: none.
    void SetFailuresText(std::string text) { failuresText_ = std::move(text); }
    // Shows the status text, shortened to the room left by the command's parts, in `font`.
    void ShowStatus(const std::string& text, HFONT font);
    // The text of the tip over the bar (the whole status line when shortened, then the failures).
    const std::wstring& TipText() const { return tipText_; }
    // The characters of the tip the status line may take; the failures are bounded by their
    // count of lines (see TMainForm).
    static constexpr std::size_t kTipStatusRoom = 300;

  private:
    static LRESULT CALLBACK BarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR owner);
    void LayOutParts();
    int Scaled(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }

    HWND owner_ = nullptr;
    HWND toolTip_ = nullptr;
    HFONT font_ = nullptr;
    int dpi_ = 96;
    // Child windows, destroyed with the owner.
    HWND bar_ = nullptr;
    HWND cancelButton_ = nullptr;
    HWND progressBar_ = nullptr;
    std::string progressText_;
    std::string failuresText_;
    std::wstring tipText_;
};

}  // namespace packmeter::win32
