#pragma once

#include <string>

#include "core/fs/algorithm_bytes.hpp"
#include "core/utils/size_text.hpp"

namespace packmeter {

// The split by algorithm for people, one line per algorithm present:
// "zstd: 1,204 KB on disk of 3,870 KB (69 % saved)". Empty when the file system told none.
std::string AlgorithmSplitText(const AlgorithmSplit& split, const NumberFormat& format);

}  // namespace packmeter
