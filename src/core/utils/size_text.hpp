#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace packmeter {

// The number separators of the user's regional settings. The platform reads them once at
// start-up; tests pass their own.
struct NumberFormat {
    std::string thousands = ",";
    std::string decimal = ".";
};

// A whole number with the thousands separator: 1,234,567 (-1,234).
std::string GroupThousands(std::int64_t value, const NumberFormat& format = {});

// The units of the size texts, 1024 apart, smallest first.
enum class SizeUnit : std::uint8_t { kBytes, kKB, kMB, kGB, kTB };

// The unit's name: "Bytes", "KB", "MB", "GB" or "TB".
std::string_view UnitName(SizeUnit unit);

// "<number> <unit>" with thousands separators and `decimals` digits after the decimal separator.
// The unit grows while the value is above 100000 (0 decimals), 10000 (1 decimal) or 1000.
std::string FormatSize(int decimals, std::int64_t bytes, const NumberFormat& format = {});
// Sizes shown side by side, each as FormatSize writes it but all in the unit FormatSize gives
// the largest, so that they read alike: "96 KB" beside "3,072 KB", not "98,304 Bytes".
std::vector<std::string> FormatSizesAlike(int decimals, std::initializer_list<std::int64_t> bytes,
                                          const NumberFormat& format = {});

// The two numbers that a size pair shows, in the one unit they share.
struct ShownSizes {
    SizeUnit unit = SizeUnit::kKB;
    std::int64_t size = 0;
    std::int64_t compressed = 0;
};

// Whole numbers from "KB" up; the unit is chosen by `size` alone and both values are truncated.
ShownSizes ShowSizePair(std::int64_t size, std::int64_t compressed);

struct SizePair {
    std::string size;
    std::string compressed;
};

// Each number, a space and the unit.
SizePair FormatShownSizes(const ShownSizes& shown);
// The texts of ShowSizePair.
SizePair FormatSizePair(std::int64_t size, std::int64_t compressed);

// The first non-zero whole number among the space-separated tokens of `text`, or 0.
std::int32_t FirstNumber(std::string_view text);

}  // namespace packmeter
