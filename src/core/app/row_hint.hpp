#pragma once

#include <cstdint>
#include <string>

#include "core/scan/entry_row.hpp"

namespace packmeter {

// What a row stands for beyond its numbers, as a sentence for its tool tip: a link, mount point
// or special file (shown with 0 bytes, never entered), or entries that could not be read and
// that its sizes leave out. Empty for a plain, fully read row.
std::string RowHint(const EntryRow& row);

// The notice for a scan that could not read `count` entries (0: empty).
std::string UnreadableNotice(std::int64_t count);

}  // namespace packmeter
