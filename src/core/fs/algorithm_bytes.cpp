#include "core/fs/algorithm_bytes.hpp"

#include <algorithm>

namespace packmeter {

std::string_view AlgorithmName(Algorithm algorithm) {
    switch (algorithm) {
        case Algorithm::kNone:
            return "none";
        case Algorithm::kZlib:
            return "zlib";
        case Algorithm::kLzo:
            return "lzo";
        case Algorithm::kZstd:
            return "zstd";
        case Algorithm::kPrealloc:
            return "prealloc";
        case Algorithm::kLznt1:
            return "lznt1";
    }
    return "unknown";
}

void AlgorithmSplit::Add(Algorithm algorithm, const AlgorithmFigures& figures) {
    const auto at = std::lower_bound(
        parts_.begin(), parts_.end(), algorithm,
        [](const Part& part, Algorithm wanted) { return part.algorithm < wanted; });
    if (at != parts_.end() && at->algorithm == algorithm) {
        at->figures += figures;
    } else {
        parts_.insert(at, Part{algorithm, figures});
    }
}

AlgorithmSplit& AlgorithmSplit::operator+=(const AlgorithmSplit& other) {
    for (const Part& part : other.parts_) {
        Add(part.algorithm, part.figures);
    }
    return *this;
}

AlgorithmSplit& AlgorithmSplit::operator-=(const AlgorithmSplit& other) {
    for (const Part& part : other.parts_) {
        Add(part.algorithm,
            {-part.figures.onDisk, -part.figures.uncompressed, -part.figures.referenced});
    }
    std::erase_if(parts_, [](const Part& part) { return part.figures == AlgorithmFigures{}; });
    return *this;
}

AlgorithmFigures AlgorithmSplit::Total() const {
    AlgorithmFigures total;
    for (const Part& part : parts_) {
        total += part.figures;
    }
    return total;
}

}  // namespace packmeter
