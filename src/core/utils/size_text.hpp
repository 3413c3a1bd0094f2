#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace packmeter {

// The number separators of the user's regional settings. The platform reads them once at
// start-up; tests pass their own.
struct NumberFormat {
    std::string thousands = ",";
    std::string decimal = ".";
};

// Unit names, indexed 0 ("Bytes") to 4 ("TB"), 1024 apart.
std::string_view UnitName(int index);

// "<number> <unit>" with thousands separators and `decimals` digits after the decimal separator.
// The unit grows while the value is above 100000 (0 decimals), 10000 (1 decimal) or 1000.
std::string FormatSize(int decimals, std::int64_t bytes, const NumberFormat& format = {});

struct SizePair {
    std::string size;
    std::string compressed;
};

// Whole numbers from "KB" up; the unit is chosen by `size` alone and both values are truncated.
SizePair FormatSizePair(std::int64_t size, std::int64_t compressed);

// The first non-zero whole number among the space-separated tokens of `text`, or 0.
std::int32_t FirstNumber(std::string_view text);

}  // namespace packmeter
