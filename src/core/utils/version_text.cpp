#include "core/utils/version_text.hpp"

namespace packmeter {

std::string ComposeVersionString(const std::string& product, const std::string& file,
                                 bool productOnly) {
    std::string result = product;
    if (!productOnly || result.empty()) {
        if (!file.empty()) {
            result = result.empty() ? file : result + "   (" + file + ")";
        }
    }
    return result;
}

}  // namespace packmeter
