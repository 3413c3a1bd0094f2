#include "gui/win32/listview/list_view_actions.hpp"

#include <commdlg.h>
#include <winspool.h>

#include <cstring>
#include <vector>

#include "core/app/main_form_layout.hpp"
#include "gui/win32/framework/clipboard.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

std::wstring LocaleText(DWORD flags, bool date, const SYSTEMTIME& now) {
    wchar_t text[128] = {};
    if (date) {
        ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, flags, &now, nullptr, text, 128, nullptr);
    } else {
        ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, flags, &now, nullptr, text, 128);
    }
    return text;
}

// The print dialog and the printer list come from libraries loaded when the list is first
// printed: imported, they would be loaded at every start of the program, which costs tens of
// milliseconds under Wine. The libraries stay loaded.
template <typename Function>
Function* PrintFunction(const wchar_t* library, const char* name) {
    const HMODULE module = ::LoadLibraryW(library);
    if (!module) {
        return nullptr;
    }
    // Through the type that converts to every function type.
    return reinterpret_cast<Function*>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

BOOL PrintDialog(PRINTDLGW& dialog) {
    static const auto function = PrintFunction<decltype(::PrintDlgW)>(L"comdlg32.dll", "PrintDlgW");
    return function && function(&dialog);
}

BOOL EnumPrinters(DWORD flags, BYTE* buffer, DWORD bytes, DWORD* needed, DWORD* count) {
    static const auto function =
        PrintFunction<decltype(::EnumPrintersW)>(L"winspool.drv", "EnumPrintersW");
    return function && function(flags, nullptr, 2, buffer, bytes, needed, count);
}

}  // namespace

bool ExecuteCopy(HWND owner, TListViewCopy& action, ReportList* target) {
    bool copied = true;
    action.Execute(target,
                   [&](const std::string& text) { copied = SetClipboardText(owner, text); });
    return copied;
}

std::wstring PdfPrinterName() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 0, &needed, &count);
    if (needed == 0) {
        return {};
    }
    std::vector<BYTE> buffer(needed);
    if (!EnumPrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, buffer.data(), needed, &needed,
                      &count)) {
        return {};
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const std::wstring name = printers[i].pPrinterName ? printers[i].pPrinterName : L"";
        if (name.find(L"PDF") != std::wstring::npos) {
            return name;
        }
    }
    return {};
}

GdiListPrinter::GdiListPrinter(HWND owner) : owner_(owner) {}

GdiListPrinter::GdiListPrinter(HDC dc, PrintPage page) : dc_(dc), page_(page) {}

GdiListPrinter::~GdiListPrinter() {
    fonts_.clear();
    if (job_) {
        ::AbortDoc(dc_);
    }
    if (ownsDc_) {
        ::DeleteDC(dc_);
    }
}

bool GdiListPrinter::ShowDialog() {
    PRINTDLGW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner_;
    dialog.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS;
    if (!PrintDialog(dialog)) {
        return false;
    }
    ::GlobalFree(dialog.hDevMode);
    ::GlobalFree(dialog.hDevNames);
    dc_ = dialog.hDC;
    ownsDc_ = true;
    return dc_ != nullptr;
}

bool GdiListPrinter::OpenDefaultPrinter() {
    PRINTDLGW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner_;
    dialog.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
    if (PrintDialog(dialog) && dialog.hDC) {
        ::GlobalFree(dialog.hDevMode);
        ::GlobalFree(dialog.hDevNames);
        dc_ = dialog.hDC;
        ownsDc_ = true;
        return true;
    }
    const std::wstring title = win::ToWide(kApplicationTitle);
    const std::wstring pdf = PdfPrinterName();
    if (pdf.empty()) {
        ::MessageBoxW(owner_,
                      L"No printer is set up on this computer, so the list cannot be printed.\n\n"
                      L"Set up a printer in the system's settings, or copy the list to the "
                      L"clipboard instead (Edit menu).",
                      title.c_str(), MB_OK | MB_ICONINFORMATION);
        return false;
    }
    const std::wstring question = L"No printer is set up as the default printer.\n\nPrint to \"" +
                                  pdf + L"\" instead and save the list as a PDF file?";
    if (::MessageBoxW(owner_, question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION) !=
        IDYES) {
        return false;
    }
    dc_ = ::CreateDCW(L"WINSPOOL", pdf.c_str(), nullptr, nullptr);
    ownsDc_ = dc_ != nullptr;
    if (!dc_) {
        failure_ = "Cannot print: the printer \"" + win::ToUtf8(pdf) + "\" cannot be opened.";
    }
    return dc_ != nullptr;
}

bool GdiListPrinter::BeginJob() {
    if (!dc_ && !OpenDefaultPrinter()) {
        return false;
    }
    if (owner_ || ownsDc_) {
        const std::wstring name = win::ToWide(kApplicationTitle);
        DOCINFOW doc{};
        doc.cbSize = sizeof(doc);
        doc.lpszDocName = name.c_str();
        if (::StartDocW(dc_, &doc) <= 0) {
            failure_ = "Cannot print: the printer did not start the job (error " +
                       std::to_string(::GetLastError()) + ").";
            return false;
        }
        job_ = true;
        ::StartPage(dc_);
        page_ = {::GetDeviceCaps(dc_, HORZSIZE) * 10, ::GetDeviceCaps(dc_, VERTSIZE) * 10};
    }
    ::SetMapMode(dc_, MM_LOMETRIC);
    ::SetBkMode(dc_, TRANSPARENT);
    return true;
}

HFONT GdiListPrinter::Font(const PrintFont& font) const {
    auto& slot = fonts_[{font.bold, font.height}];
    if (!slot) {
        // A negative height asks for the character height, here in tenths of a millimetre.
        slot.reset(::CreateFontW(-font.height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                 FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Arial"));
    }
    return slot.get();
}

int GdiListPrinter::TextWidth(std::string_view text, const PrintFont& font) const {
    const std::wstring wide = win::ToWide(text);
    const SelectedObject selected(dc_, Font(font));
    SIZE size{};
    ::GetTextExtentPoint32W(dc_, wide.c_str(), int(wide.size()), &size);
    return int(size.cx);
}

std::string GdiListPrinter::DateTimeText() const {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return win::ToUtf8(LocaleText(DATE_SHORTDATE, true, now) + L" " + LocaleText(0, false, now));
}

void GdiListPrinter::Draw(const std::vector<PrintOp>& ops) {
    {
        // The page's own font again after the list's texts.
        const SelectedObject pageFont(dc_, ::GetCurrentObject(dc_, OBJ_FONT));
        for (const PrintOp& op : ops) {
            switch (op.kind) {
                case PrintOpKind::kNewPage:
                    if (job_) {
                        ::EndPage(dc_);
                        ::StartPage(dc_);
                        // Some drivers reset the page's mapping with each new page.
                        ::SetMapMode(dc_, MM_LOMETRIC);
                        ::SetBkMode(dc_, TRANSPARENT);
                    }
                    break;
                case PrintOpKind::kLine:
                    ::MoveToEx(dc_, op.x, -op.y, nullptr);
                    ::LineTo(dc_, op.x2, -op.y);
                    break;
                case PrintOpKind::kText: {
                    ::SelectObject(dc_, Font(op.font));
                    const UINT align = op.anchor == TextAnchor::kRight    ? TA_RIGHT
                                       : op.anchor == TextAnchor::kCentre ? TA_CENTER
                                                                          : TA_LEFT;
                    ::SetTextAlign(dc_, align | TA_TOP | TA_NOUPDATECP);
                    const std::wstring wide = win::ToWide(op.text);
                    ::TextOutW(dc_, op.x, -op.y, wide.c_str(), int(wide.size()));
                    break;
                }
            }
        }
    }
    if (job_) {
        ::EndPage(dc_);
        ::EndDoc(dc_);
        job_ = false;
    }
}

}  // namespace packmeter::win32
