#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace packmeter {

// The user's conventions that a report list's built-in comparison reads.
class ListLocale {
  public:
    virtual ~ListLocale() = default;
    virtual std::string DateSeparator() const = 0;
    virtual std::string TimeSeparator() const = 0;
    virtual std::string ThousandsSeparator() const = 0;
    virtual std::string DecimalSeparator() const = 0;
    // The text as a moment (days, with the time of day as fraction), read as a date and time,
    // a date or a time; nothing when it does not convert.
    virtual std::optional<double> ToDateTime(std::string_view text, bool hasDate,
                                             bool hasTime) const = 0;
    // Case-sensitive comparison in the user's collation: negative, 0 or positive.
    virtual int CompareText(std::string_view a, std::string_view b) const = 0;
};

// The order of day, month and year in a numeric date.
enum class DateOrder { kMonthDayYear, kDayMonthYear, kYearMonthDay };

// Conventions given as plain values: numeric dates such as 12/31/2024 or 31.12.24 in the given
// order, times such as 9:05, 21:05:30 or 9:05 PM, both joined by a space; texts compared by
// their bytes unless a platform supplies its collation.
class NumericListLocale : public ListLocale {
  public:
    std::string dateSeparator = "/";
    std::string timeSeparator = ":";
    std::string thousandsSeparator = ",";
    std::string decimalSeparator = ".";
    DateOrder dateOrder = DateOrder::kMonthDayYear;

    std::string DateSeparator() const override { return dateSeparator; }
    std::string TimeSeparator() const override { return timeSeparator; }
    std::string ThousandsSeparator() const override { return thousandsSeparator; }
    std::string DecimalSeparator() const override { return decimalSeparator; }
    std::optional<double> ToDateTime(std::string_view text, bool hasDate,
                                     bool hasTime) const override;
    int CompareText(std::string_view a, std::string_view b) const override;

    std::optional<double> ToDate(std::string_view text) const;
    std::optional<double> ToTime(std::string_view text) const;
};

}  // namespace packmeter
