#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "core/listview/list_view_actions.hpp"
#include "gui/win32/framework/win_owned.hpp"

namespace packmeter::win32 {

// Puts the text of `action`'s list on the clipboard as Unicode text; false when the clipboard
// could not be had.
bool ExecuteCopy(HWND owner, TListViewCopy& action, ReportList* target);

// Prints with GDI in the metric mapping mode (one logical unit is 0.1 mm, y counting upward,
// so every y is drawn negated) on the default printer. Where no printer is the default, it
// offers the system's PDF printer when one is installed, and otherwise says that none is set up.
class GdiListPrinter final : public ListPrinter {
  public:
    explicit GdiListPrinter(HWND owner);
    // Draws on `dc` (a metafile or memory device context) instead, without a print job.
    GdiListPrinter(HDC dc, PrintPage page);
    ~GdiListPrinter() override;
    GdiListPrinter(const GdiListPrinter&) = delete;
    GdiListPrinter& operator=(const GdiListPrinter&) = delete;

    bool ShowDialog() override;
    bool BeginJob() override;
    PrintPage Page() const override { return page_; }
    int TextWidth(std::string_view text, const PrintFont& font) const override;
    std::string DateTimeText() const override;
    void Draw(const std::vector<PrintOp>& ops) override;

    // Why the job could not begin; empty when it did or the user cancelled it.
    const std::string& Failure() const { return failure_; }

  private:
    bool OpenDefaultPrinter();
    HFONT Font(const PrintFont& font) const;

    HWND owner_ = nullptr;
    HDC dc_ = nullptr;
    bool ownsDc_ = false;
    bool job_ = false;
    std::string failure_;
    PrintPage page_;
    mutable std::map<std::pair<bool, int>, UniqueFont> fonts_;
};

// The name of an installed printer that writes PDF files, or empty.
std::wstring PdfPrinterName();

}  // namespace packmeter::win32
