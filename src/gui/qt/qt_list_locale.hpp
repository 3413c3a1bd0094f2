#pragma once

#include <QCollator>
#include <QLocale>

#include "listview/list_locale.hpp"

namespace packmeter::qt {

// The separators and the numeric date order of a Qt locale (the user's by default), with its
// case-sensitive collation for texts.
class QtListLocale final : public NumericListLocale {
  public:
    explicit QtListLocale(const QLocale& locale = QLocale::system());
    int CompareText(std::string_view a, std::string_view b) const override;

  private:
    QCollator collator_;
};

}  // namespace packmeter::qt
