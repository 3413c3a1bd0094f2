#include "core/utils/size_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace packmeter {

namespace {

constexpr std::array<std::string_view, 5> kUnits = {"Bytes", "KB", "MB", "GB", "TB"};

// The digits with the thousands separator between each group of three: "1234567" -> "1,234,567".
std::string GroupDigits(std::string_view digits, const NumberFormat& format) {
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += format.thousands;
        }
        out += digits[i];
    }
    return out;
}

// Inserts the thousands separator into the integer digits of a plain "%.*f" text.
std::string Localise(const std::string& plain, const NumberFormat& format) {
    std::string_view text = plain;
    std::string out;
    if (!text.empty() && text.front() == '-') {
        out += '-';
        text.remove_prefix(1);
    }
    const auto point = text.find('.');
    out += GroupDigits(text.substr(0, point), format);
    if (point != std::string_view::npos) {
        out += format.decimal;
        out += text.substr(point + 1);
    }
    return out;
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

std::string GroupThousands(std::int64_t value, const NumberFormat& format) {
    const std::string digits = std::to_string(value);
    if (value < 0) {
        return "-" + GroupDigits(std::string_view(digits).substr(1), format);
    }
    return GroupDigits(digits, format);
}

std::string_view UnitName(SizeUnit unit) {
    return kUnits.at(static_cast<std::size_t>(unit));
}

namespace {

SizeUnit UnitOfSize(int decimals, std::int64_t bytes) {
    const double threshold = decimals == 0 ? 100000.0 : decimals == 1 ? 10000.0 : 1000.0;
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (threshold < value && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    return static_cast<SizeUnit>(unit);
}

std::string FormatSizeIn(SizeUnit unit, int decimals, std::int64_t bytes,
                         const NumberFormat& format) {
    double value = static_cast<double>(bytes);
    for (int i = 0; i < static_cast<int>(unit); ++i) {
        value /= 1024.0;
    }
    const int precision = decimals < 0 ? 0 : decimals;
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
    std::string text = Localise(buffer, format);
    text += ' ';
    text += UnitName(unit);
    return text;
}

}  // namespace

std::string FormatSize(int decimals, std::int64_t bytes, const NumberFormat& format) {
    return FormatSizeIn(UnitOfSize(decimals, bytes), decimals, bytes, format);
}

std::vector<std::string> FormatSizesAlike(int decimals, std::initializer_list<std::int64_t> bytes,
                                          const NumberFormat& format) {
    std::int64_t largest = 0;
    for (const std::int64_t value : bytes) {
        largest = std::max(largest, value);
    }
    const SizeUnit unit = UnitOfSize(decimals, largest);
    std::vector<std::string> texts;
    texts.reserve(bytes.size());
    for (const std::int64_t value : bytes) {
        texts.push_back(FormatSizeIn(unit, decimals, value, format));
    }
    return texts;
}

ShownSizes ShowSizePair(std::int64_t size, std::int64_t compressed) {
    ShownSizes shown{SizeUnit::kKB, size / 1024, compressed / 1024};
    while (shown.size > 10000 && shown.unit < SizeUnit::kTB) {
        shown.size /= 1024;
        shown.compressed /= 1024;
        shown.unit = static_cast<SizeUnit>(static_cast<int>(shown.unit) + 1);
    }
    return shown;
}

SizePair FormatShownSizes(const ShownSizes& shown) {
    const std::string unit(UnitName(shown.unit));
    return {std::to_string(shown.size) + ' ' + unit, std::to_string(shown.compressed) + ' ' + unit};
}

SizePair FormatSizePair(std::int64_t size, std::int64_t compressed) {
    return FormatShownSizes(ShowSizePair(size, compressed));
}

std::int32_t FirstNumber(std::string_view text) {
    while (!text.empty()) {
        auto p = text.find(' ');
        p = p == std::string_view::npos ? text.size() : p + 1;
        std::string_view token = text.substr(0, p);
        while (!token.empty() && IsBlankOrControl(token.front())) {
            token.remove_prefix(1);
        }
        while (!token.empty() && IsBlankOrControl(token.back())) {
            token.remove_suffix(1);
        }
        // A leading plus sign is accepted like the minus sign; from_chars takes only the minus.
        if (token.size() > 1 && token.front() == '+' && token[1] != '-') {
            token.remove_prefix(1);
        }
        std::int32_t value = 0;
        const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
        if (error == std::errc() && end == token.data() + token.size() && value != 0) {
            return value;
        }
        text.remove_prefix(p);
    }
    return 0;
}

}  // namespace packmeter
