#pragma once

#include <string>

namespace packmeter {

// The version text from the two version strings of a program: the product version alone when
// `productOnly` is set and it is present; otherwise both, "product   (file)", or whichever exists.
std::string ComposeVersionString(const std::string& product, const std::string& file,
                                 bool productOnly);

}  // namespace packmeter
