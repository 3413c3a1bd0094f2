#include "gui/win32/listview/win_list_locale.hpp"

#include <windows.h>

#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

namespace {

std::string LocaleText(LCTYPE type, const char* fallback) {
    wchar_t buffer[16] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 16) <= 1) {
        return fallback;
    }
    return win::ToUtf8(buffer);
}

}  // namespace

WinListLocale::WinListLocale() {
    dateSeparator = LocaleText(LOCALE_SDATE, "/");
    timeSeparator = LocaleText(LOCALE_STIME, ":");
    thousandsSeparator = LocaleText(LOCALE_STHOUSAND, ",");
    decimalSeparator = LocaleText(LOCALE_SDECIMAL, ".");
    // LOCALE_IDATE: 0 month-day-year, 1 day-month-year, 2 year-month-day.
    const std::string order = LocaleText(LOCALE_IDATE, "0");
    dateOrder = order == "1"   ? DateOrder::kDayMonthYear
                : order == "2" ? DateOrder::kYearMonthDay
                               : DateOrder::kMonthDayYear;
}

int WinListLocale::CompareText(std::string_view a, std::string_view b) const {
    const std::wstring wa = win::ToWide(a);
    const std::wstring wb = win::ToWide(b);
    const int result = ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, 0, wa.c_str(), int(wa.size()),
                                         wb.c_str(), int(wb.size()), nullptr, nullptr, 0);
    return result == 0 ? 0 : result - CSTR_EQUAL;
}

}  // namespace packmeter::win32
