#pragma once

// The readable form of a module's logger options, from which the instrumenting step writes the
// data block. One "Name=Value" per line, names as the options' fields; "#" starts a comment
// line. Values are taken as written, except that "\r", "\n" and "\\" stand for CR, LF and a
// backslash. Flags are 0 or 1, LogFields is a number (decimal or 0x hexadecimal). A filter
// entry is "Filter=ClassName" or "Filter=ClassName|Message"; a text is "CustomText.N=Text".

#include <string>
#include <string_view>

#include "core/exceptlog/fault_module_options.hpp"

namespace packmeter {

// Applies the lines to `options`; fields not named keep their values. Returns the error text
// ("line 3: unknown name \"Colour\""), empty on success.
std::string ApplyOptionsText(std::string_view text, TFaultModuleOptions& options);

}  // namespace packmeter
