#pragma once

#include "core/listview/list_locale.hpp"

namespace packmeter::win32 {

// The user's date, time and number conventions and collation, read from the user's locale.
class WinListLocale final : public NumericListLocale {
  public:
    WinListLocale();
    int CompareText(std::string_view a, std::string_view b) const override;
};

}  // namespace packmeter::win32
