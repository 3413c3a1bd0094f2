#pragma once

// From a program's line table to the units and line records of its debug-information block.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exceptlog/debug_info.hpp"

namespace packmeter {

// One row of a decoded line table: from `address` on, the code is `file`'s line `line`. A row
// with line 0 ends a sequence of rows at its address. `system` marks a row of a system or standard
// library header (code the compiler inlined from /usr/include and the like).
struct FaultLineRow {
    std::string file;
    std::int32_t line = 0;
    std::uint64_t address = 0;
    bool system = false;
};

// Whether a source path (as the line table's file headings name it) is a system or standard
// library header rather than one of the program's own sources.
bool IsSystemSourcePath(std::string_view path);

// The rows of the decoded line table as the binutils' object dumper prints it with
// --dwarf=decodedline (file name, line or "-", address, optional view and statement columns).
std::vector<FaultLineRow> ParseDecodedLines(std::string_view text);

// Units for the rows: a row of a system header that lies inside a function of our own sources
// counts as the line of our source it was inlined into (the function's last own row before it),
// so a report names our file and line instead of "tuple" or "stl_vector.h". A unit is a run of rows
// of one file and one function whose lines grow; the function's name is on its first record, so
// that it takes effect at once. `functionOf` names the function holding an address (empty when
// none). Addresses become code offsets by subtracting `base` (the image's first address) and the
// code base.
std::vector<FaultDebugUnit> BuildDebugUnits(
    const std::vector<FaultLineRow>& rows,
    const std::function<std::string(std::uint64_t)>& functionOf, std::uint64_t base);

}  // namespace packmeter
