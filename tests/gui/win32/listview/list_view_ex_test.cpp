#include "gui/win32/listview/list_view_ex.hpp"

#include <gtest/gtest.h>

#include "core/fs/filesystem.hpp"
#include "core/listview/header_arrow.hpp"
#include "gui/win32/framework/window.hpp"
#include "platform/windows/utils/win_path.hpp"
#include "tests/gui/win32/win32_test_support.hpp"

namespace packmeter::win32 {
namespace {

// A plain top-level window that hands the list its notifications.
class Host final : public Window {
  public:
    Host() {
        CreateWindowOf(L"PackmeterTestHost", 0, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                       nullptr, nullptr);
    }
    ~Host() override { DestroyNow(); }
    void Close() { DestroyNow(); }
    TListViewEx* list = nullptr;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        LRESULT result = 0;
        if (message == WM_NOTIFY && list &&
            list->HandleNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) {
            return result;
        }
        return DefaultHandling(message, wParam, lParam);
    }
};

const std::vector<ColumnSetup> kColumns = {
    {L"Name", 100, LVCFMT_LEFT}, {L"Size", 60, LVCFMT_RIGHT}, {L"When", 80, LVCFMT_LEFT}};

ListItem Row(std::string caption, std::string size, std::string when = {}) {
    ListItem item;
    item.caption = std::move(caption);
    item.subItems = {std::move(size)};
    if (!when.empty()) {
        item.subItems.push_back(std::move(when));
    }
    return item;
}

std::optional<std::wstring> RegistryText(const std::wstring& key, const wchar_t* name) {
    wchar_t text[64] = {};
    DWORD bytes = sizeof(text);
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text,
                       &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(text);
}

TEST(ListViewExTest, SettingsRoundTripThroughTheRegistry) {
    const std::wstring key = L"Software\\QEL Software\\PackmeterTest\\List";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QEL Software\\PackmeterTest");
    {
        Host host;
        TListViewEx list;
        host.list = &list;
        list.SetApplicationTitle("PackmeterTest");
        ASSERT_TRUE(list.Create(host.Hwnd(), 1, "List", kColumns));
        list.SetAutoSaveSettings(true);
        list.Loaded();
        list.SetSortOrder(soDescending);
        list.SetSortColumn(2);
        ListView_SetColumnWidth(list.Hwnd(), 1, 77);
        EXPECT_EQ(list.SettingsKey(), key);
        host.Close();
    }
    EXPECT_EQ(RegistryText(key, L"SortColumn"), L"2");
    EXPECT_EQ(RegistryText(key, L"SortOrder"), L"2");
    EXPECT_EQ(RegistryText(key + L"\\ListColumn1", L"Width"), L"77");
    EXPECT_EQ(RegistryText(key + L"\\ListColumn0", L"Width"), L"100");
    // A value that is not a number leaves the current one.
    ::RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\ListColumn0").c_str(), L"Width", REG_SZ,
                      L"wide", 10);
    {
        Host host;
        TListViewEx list;
        list.SetApplicationTitle("PackmeterTest");
        ASSERT_TRUE(list.Create(host.Hwnd(), 1, "List", kColumns));
        list.SetAutoSaveSettings(true);
        list.Loaded();
        EXPECT_EQ(list.SortColumn(), 2);
        EXPECT_EQ(list.SortOrder(), soDescending);
        EXPECT_EQ(ListView_GetColumnWidth(list.Hwnd(), 1), 77);
        EXPECT_EQ(ListView_GetColumnWidth(list.Hwnd(), 0), 100);
        EXPECT_EQ(list.HeaderMark(2), soDescending);
        // Switched off, nothing is written.
        list.SetAutoSaveSettings(false);
        list.SetSortColumn(0);
        host.Close();
    }
    EXPECT_EQ(RegistryText(key, L"SortColumn"), L"2");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QEL Software\\PackmeterTest");
}

TEST(ListViewExTest, ArrowBitmapsAreThePicturesInTextColourOnTheButtonFace) {
    TListViewEx list;
    const HDC dc = ::CreateCompatibleDC(nullptr);
    // Each picture pixel is a square that grows with the screen (one pixel at 96 dpi).
    const int size = ArrowPixelSize(::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSX), 96));
    for (const TSortOption order : {soAscending, soDescending}) {
        const HBITMAP arrow = list.ArrowBitmap(order);
        ASSERT_NE(arrow, nullptr);
        BITMAP info{};
        ::GetObjectW(arrow, sizeof(info), &info);
        EXPECT_EQ(info.bmWidth, 8 * size);
        EXPECT_EQ(info.bmHeight, 8 * size);
        const HGDIOBJ old = ::SelectObject(dc, arrow);
        const ArrowPicture& picture = SortArrowPicture(order);
        for (int y = 0; y < 8 * size; ++y) {
            for (int x = 0; x < 8 * size; ++x) {
                const char pixel = picture[std::size_t(y / size)][std::size_t(x / size)];
                const COLORREF expected =
                    ::GetSysColor(IsArrowInk(pixel) ? COLOR_BTNTEXT : COLOR_BTNFACE);
                EXPECT_EQ(::GetPixel(dc, x, y), expected) << int(order) << " " << x << "," << y;
            }
        }
        ::SelectObject(dc, old);
    }
    ::DeleteDC(dc);
}

TEST(ListViewExTest, DefaultCompareAndExplorerFontWithoutAnOwnerComparison) {
    Host host;
    TListViewEx list;
    host.list = &list;
    ASSERT_TRUE(list.Create(host.Hwnd(), 1, "List", kColumns));
    // A new list: no arrow, and setting a column without an order sorts and marks nothing.
    list.AddItems(
        {Row("b", "4,882 KB", "12/31/2024"), Row("a", "900 KB", "1/2/2025"), Row("C", "12 KB")});
    list.SetSortColumn(1);
    EXPECT_EQ(list.Item(0).caption, "b");
    EXPECT_EQ(list.HeaderMark(1), soNone);
    list.SetSortOrder(soAscending);  // AutoResort is on by default
    EXPECT_EQ(list.Item(0).caption, "C");
    EXPECT_EQ(list.Item(1).caption, "a");
    EXPECT_EQ(list.Item(2).caption, "b");
    list.SetSortColumn(2);
    // The row without a date compares as empty text; the dates by value.
    EXPECT_EQ(list.Item(1).caption, "b");
    EXPECT_EQ(list.Item(2).caption, "a");

    LOGFONTW iconTitle{};
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(iconTitle), &iconTitle, 0));
    list.SetUseExplorerFontSettings(true);
    LOGFONTW used{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(list.Hwnd(), WM_GETFONT, 0, 0)),
                 sizeof(used), &used);
    EXPECT_EQ(std::wstring(used.lfFaceName), std::wstring(iconTitle.lfFaceName));
    EXPECT_EQ(used.lfHeight, iconTitle.lfHeight);
}

// Rows whose icon is their own are looked up only when the list asks for a row's icon (as it
// draws it), once each, and keep it through a sort.
TEST(ListViewExTest, OwnIconsAreLookedUpOnlyForRowsAskedFor) {
    Host host;
    TListViewEx list;
    host.list = &list;
    ASSERT_TRUE(list.Create(host.Hwnd(), 1, "List", kColumns));
    int lookUps = 0;
    list.onOwnIcon = [&](const ListItem& item) {
        ++lookUps;
        return 100 + std::stoi(item.caption);
    };
    std::vector<ListItem> rows;
    for (int i = 0; i < 2000; ++i) {
        rows.push_back(Row(std::to_string(i), "1 KB"));
        rows.back().imageIndex = IconSource::kOwnIcon;
    }
    const int before = lookUps;
    list.AddItems(std::move(rows));
    EXPECT_EQ(lookUps, before);
    const auto icon = [&](int row) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        EXPECT_TRUE(ListView_GetItem(list.Hwnd(), &item));
        return item.iImage;
    };
    const int asked = lookUps;
    EXPECT_EQ(icon(1500), 1600);
    EXPECT_EQ(icon(1500), 1600);
    EXPECT_EQ(lookUps, asked + 1);
    list.SetSortColumn(0);
    list.SetSortOrder(soDescending);
    for (int row = 0; row < list.ItemCount(); ++row) {
        const ListItem& shown = list.Item(row);
        if (shown.caption == "1500") {
            EXPECT_EQ(shown.imageIndex, 1600);
        }
    }
}

}  // namespace
}  // namespace packmeter::win32
