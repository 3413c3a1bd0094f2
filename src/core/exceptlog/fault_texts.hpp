#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace packmeter {

// The report's message for a fault of the given type (the names the capture gives faults, such
// as "EAccessViolation"); empty for a type that has no fixed message.
std::string FaultMessageOf(const std::string& type, std::uintptr_t instruction,
                           std::uintptr_t faultAddress, bool write);

// The classes above one of the logger's own fault types ("EDivByZero": "EIntError",
// "EExternal", "Exception"); empty for any other name.
std::vector<std::string> FaultTypeAncestors(std::string_view type);

// The text of the exception being handled (call only inside a catch block), ended by a full
// stop as the logger's messages are.
std::string CurrentExceptionMessage();

}  // namespace packmeter
