#pragma once

#include <QCollator>
#include <QLocale>

#include "core/listview/list_locale.hpp"

namespace packmeter::qt {

// The separators and the numeric date order of a Qt locale (by default the application's, which
// is the user's unless the program chose another), with its case-sensitive collation for texts.
class QtListLocale final : public NumericListLocale {
  public:
    explicit QtListLocale(const QLocale& locale = QLocale());
    int CompareText(std::string_view a, std::string_view b) const override;

  private:
    QCollator collator_;
};

}  // namespace packmeter::qt
