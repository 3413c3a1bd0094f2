#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "core/app/estimate_result.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "gui/win32/framework/window.hpp"

namespace packmeter::win32 {

// A small box shown modally over its owner with the owner's font; a button ends it with its id.
class ModalBox : public Window {
  public:
    ~ModalBox() override;
    // Shows the box until a button (or Escape, or the close box: IDCANCEL) ends it.
    int ShowModal();
    // Ends the box as the button `id` does.
    void End(int id) { result_ = id; }

  protected:
    ModalBox(HWND owner, const char* title, int width, int height);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int Scaled(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }
    HWND Control(const wchar_t* className, const std::string& text, DWORD style, int x, int y,
                 int width, int height, int id = 0);
    // Called once the box is on screen.
    virtual void Shown() {}

  private:
    HWND owner_;
    int dpi_ = 96;
    UniqueFont font_;
    int result_ = 0;
};

// The result of "Estimate saving...": the method, a list of the entries with their size, what
// they take now, the forecast and the saving, the totals in the last row, the sentence under
// them, and the buttons Compress (IDYES), Exact estimate (IDRETRY, after a quick one) and Close.
class EstimateBox final : public ModalBox {
  public:
    EstimateBox(HWND owner, const EstimateResult& result, const NumberFormat& format);
    ~EstimateBox() override;
    HWND List() const { return list_; }
    HWND Summary() const { return summary_; }
    // Called with each box once it is on screen (tests use it to look and answer).
    static std::function<void(EstimateBox&)>& OnShown();

  private:
    void Shown() override;
    HWND list_ = nullptr;
    HWND summary_ = nullptr;
};

// "Compress with..." on NTFS, which has one method (LZNT1): the threshold alone, and why.
class CompressWithBox final : public ModalBox {
  public:
    CompressWithBox(HWND owner, const CompressionChoice& choice);
    ~CompressWithBox() override;
    // The choice as the box shows it now.
    CompressionChoice Choice() const;
    HWND MinSaving() const { return minSaving_; }
    static std::function<void(CompressWithBox&)>& OnShown();

  private:
    void Shown() override;
    HWND minSaving_ = nullptr;
};

// The last choice of "Compress with...", kept in the registry beside the list's settings.
CompressionChoice LoadCompressionChoice();
void SaveCompressionChoice(const CompressionChoice& choice);

}  // namespace packmeter::win32
