#include "core/listview/list_locale.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <utility>
#include <vector>

namespace packmeter {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<int> Digits(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    if (separator.empty()) {
        parts.push_back(text);
        return parts;
    }
    while (true) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + separator.size());
    }
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<double> NumericListLocale::ToDate(std::string_view text) const {
    // A date without its year names no single day, so all three parts are needed.
    const auto parts = Split(Trim(text), dateSeparator);
    if (parts.size() != 3) {
        return std::nullopt;
    }
    std::array<int, 3> values{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto value = Digits(Trim(parts[i]));
        if (!value) {
            return std::nullopt;
        }
        values[i] = *value;
    }
    std::size_t yearAt = 2;
    int month = values[0];
    int day = values[1];
    if (dateOrder == DateOrder::kDayMonthYear) {
        std::swap(month, day);
    } else if (dateOrder == DateOrder::kYearMonthDay) {
        yearAt = 0;
        month = values[1];
        day = values[2];
    }
    int year = values[yearAt];
    if (Trim(parts[yearAt]).size() <= 2) {
        year += year < 50 ? 2000 : 1900;
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return static_cast<double>(DaysFromCivil(year, month, day));
}

std::optional<double> NumericListLocale::ToTime(std::string_view text) const {
    text = Trim(text);
    int offset = 0;
    bool twelveHour = false;
    const auto space = text.rfind(' ');
    if (space != std::string_view::npos) {
        const std::string_view suffix = text.substr(space + 1);
        if (EqualsIgnoringCase(suffix, "AM") || EqualsIgnoringCase(suffix, "PM")) {
            twelveHour = true;
            offset = EqualsIgnoringCase(suffix, "PM") ? 12 : 0;
            text = Trim(text.substr(0, space));
        }
    }
    const auto parts = Split(text, timeSeparator);
    if (parts.size() < 2 || parts.size() > 3) {
        return std::nullopt;
    }
    const auto hour = Digits(parts[0]);
    const auto minute = Digits(parts[1]);
    double seconds = 0;
    if (parts.size() == 3) {
        const std::string_view s = parts[2];
        const auto point = s.find_first_of(".,");
        const auto whole = Digits(s.substr(0, point));
        if (!whole || *whole > 59) {
            return std::nullopt;
        }
        seconds = *whole;
        if (point != std::string_view::npos) {
            const auto fraction = Digits(s.substr(point + 1));
            if (!fraction) {
                return std::nullopt;
            }
            double scale = 1;
            for (std::size_t i = point + 1; i < s.size(); ++i) {
                scale *= 10;
            }
            seconds += *fraction / scale;
        }
    }
    if (!hour || !minute || *minute > 59) {
        return std::nullopt;
    }
    int h = *hour;
    if (twelveHour) {
        if (h < 1 || h > 12) {
            return std::nullopt;
        }
        h = h % 12 + offset;
    } else if (h > 23) {
        return std::nullopt;
    }
    return (h * 3600.0 + *minute * 60.0 + seconds) / 86400.0;
}

std::optional<double> NumericListLocale::ToDateTime(std::string_view text, bool hasDate,
                                                    bool hasTime) const {
    if (hasDate && hasTime) {
        text = Trim(text);
        const auto space = text.find(' ');
        if (space == std::string_view::npos) {
            return std::nullopt;
        }
        const auto date = ToDate(text.substr(0, space));
        const auto time = ToTime(text.substr(space + 1));
        if (!date || !time) {
            return std::nullopt;
        }
        return *date + *time;
    }
    return hasDate ? ToDate(text) : hasTime ? ToTime(text) : std::nullopt;
}

int NumericListLocale::CompareText(std::string_view a, std::string_view b) const {
    const int result = a.compare(b);
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

}  // namespace packmeter
