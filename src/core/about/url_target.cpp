#include "core/about/url_target.hpp"

namespace packmeter {

namespace {

bool Blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

std::optional<std::string> UrlLabelTarget(std::string_view url, std::string_view caption) {
    const std::string_view target = Blank(url) ? caption : url;
    if (Blank(target)) {
        return std::nullopt;
    }
    return std::string(target);
}

}  // namespace packmeter
