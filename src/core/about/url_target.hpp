#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace packmeter {

// What a click on a link label opens: its URL as given when the URL holds more than blanks,
// otherwise its caption; nothing when that is blank too.
std::optional<std::string> UrlLabelTarget(std::string_view url, std::string_view caption);

}  // namespace packmeter
