#include "gui/win32/about/about_box.hpp"

#include "core/about/about_texts.hpp"
#include "core/app/main_form_layout.hpp"
#include "gui/win32/framework/screen_fonts.hpp"
#include "gui/win32/framework/win_owned.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

constexpr int kWidth = 263;
constexpr int kHeight = 241;
constexpr int kStripHeight = 41;
constexpr int kBorder = 5;
// The lower block's top, in the panel: 112 high at the panel's foot.
constexpr int kLowerTop = kHeight - kStripHeight - kBorder - 112;
constexpr int kAppIcon = 1;

}  // namespace

std::function<void(TAboutBox&)>& TAboutBox::OnShown() {
    static std::function<void(TAboutBox&)> handler;
    return handler;
}

TAboutBox::TAboutBox(HWND owner, const std::string& toolPage) : owner_(owner) {
    dpi_ = ScreenDpi();
    font_.reset(CreateOwnerFont(owner));
    titleFont_.reset(::CreateFontW(-Scaled(19), 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH, L"Arial"));

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    RECT outer{0, 0, Scaled(kWidth), Scaled(kHeight)};
    ::AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    // Centred on the screen.
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    if (!CreateWindowOf(L"PackmeterAboutBox", WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, style, x,
                        y, width, height, owner, nullptr)) {
        return;
    }
    SetWindowTextUtf8(Hwnd(), kAboutCaption);
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);

    // The OK button in the strip below the panel.
    const HWND ok = ::CreateWindowExW(
        0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, Scaled(83),
        Scaled(kHeight - kStripHeight + 6), Scaled(89), Scaled(26), Hwnd(),
        reinterpret_cast<HMENU>(IDOK), instance, nullptr);
    ::SendMessageW(ok, WM_SETFONT, WPARAM(font_.get()), FALSE);

    programIcon_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ICON,
                                     Scaled(kBorder + 17), Scaled(kBorder + 16), Scaled(43),
                                     Scaled(41), Hwnd(), nullptr, instance, nullptr);
    version_ = Label("", kBorder + 92, kBorder + 41);

    const int lower = kBorder + kLowerTop;
    Label(kAboutNotice, kBorder + 7, lower + 0);
    Label("E-Mail:", kBorder + 7, lower + 22);
    email_ = std::make_unique<TUrlLabel>(Hwnd(), kContactEmail, Scaled(kBorder + 50),
                                         Scaled(lower + 21), font_.get());
    email_->SetURL(kContactMailto);
    Label("WWW:", kBorder + 7, lower + 39);
    web_ = std::make_unique<TUrlLabel>(Hwnd(), kHomepage, Scaled(kBorder + 49), Scaled(lower + 38),
                                       font_.get());
    web_->SetActiveColor(RGB(255, 0, 0));
    Label(kRecommendLine1, kBorder + 7, lower + 72);
    Label(kRecommendLine2, kBorder + 7, lower + 88);
    tool_ = std::make_unique<TUrlLabel>(Hwnd(), kRecommendProduct, Scaled(kBorder + 51),
                                        Scaled(lower + 88), font_.get());
    tool_->SetURL(toolPage);
    FormCreate();
}

TAboutBox::~TAboutBox() {
    tool_.reset();
    web_.reset();
    email_.reset();
    DestroyNow();
}

int TAboutBox::Scaled(int pixels) const {
    return ::MulDiv(pixels, dpi_, 96);
}

HWND TAboutBox::Label(const char* text, int x, int y) {
    const std::wstring wide = win::ToWide(text);
    // An empty label is as high as a line of text, ready for the text it gets later.
    const SIZE size = TextExtent(Hwnd(), font_.get(), wide.empty() ? L"Xg" : wide);
    const HWND label =
        ::CreateWindowExW(0, L"STATIC", wide.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                          Scaled(x), Scaled(y), std::max<int>(size.cx + 2, Scaled(150)), size.cy,
                          Hwnd(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(label, WM_SETFONT, WPARAM(font_.get()), FALSE);
    return label;
}

void TAboutBox::FormCreate() {
    productName_ = kApplicationTitle;
    shadow_ = kApplicationTitle;
    SetWindowTextUtf8(version_, "Version " + GetVersionString(true));
    const auto icon = static_cast<HICON>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON, 0, 0, LR_SHARED));
    ::SendMessageW(programIcon_, STM_SETICON, WPARAM(icon), 0);
}

void TAboutBox::PaintTitle(HDC dc) {
    // The name in black over its grey shadow, one pixel to the right and two down.
    const SelectedObject selected(dc, titleFont_.get());
    ::SetBkMode(dc, TRANSPARENT);
    const std::wstring shadow = win::ToWide(shadow_);
    const std::wstring name = win::ToWide(productName_);
    RECT shadowBox{Scaled(kBorder + 90), Scaled(kBorder + 14), Scaled(kBorder + 90 + 126),
                   Scaled(kBorder + 14 + 23)};
    ::SetTextColor(dc, RGB(128, 128, 128));
    ::DrawTextW(dc, shadow.c_str(), int(shadow.size()), &shadowBox,
                DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    RECT nameBox{Scaled(kBorder + 89), Scaled(kBorder + 12), Scaled(kBorder + 89 + 126),
                 Scaled(kBorder + 12 + 23)};
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::DrawTextW(dc, name.c_str(), int(name.size()), &nameBox,
                DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
}

int TAboutBox::ShowModal() {
    result_ = RunModalBox(Hwnd(), owner_, result_, [this] {
        if (OnShown()) {
            OnShown()(*this);
        }
    });
    return result_;
}

LRESULT TAboutBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                result_ = LOWORD(wParam);
                return 0;
            }
            break;
        case WM_CLOSE:
            result_ = IDCANCEL;
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            const HDC dc = ::BeginPaint(Hwnd(), &paint);
            // The panel: a sunken edge inside a 5-pixel border.
            RECT panel{Scaled(kBorder), Scaled(kBorder), Scaled(kWidth - kBorder),
                       Scaled(kHeight - kStripHeight - kBorder)};
            ::DrawEdge(dc, &panel, BDR_SUNKENINNER, BF_RECT);
            PaintTitle(dc);
            ::EndPaint(Hwnd(), &paint);
            return 0;
        }
        case WM_CTLCOLORSTATIC: {
            const auto dc = reinterpret_cast<HDC>(wParam);
            ::SetBkMode(dc, TRANSPARENT);
            ::SetTextColor(dc, RGB(0, 0, 0));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        default:
            break;
    }
    return DefaultHandling(message, wParam, lParam);
}

}  // namespace packmeter::win32
