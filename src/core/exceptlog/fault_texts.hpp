#pragma once

#include <cstdint>
#include <string>

namespace packmeter {

// The readable form of a mangled C++ name; the name itself when it is not one.
std::string DemangleSymbol(const std::string& symbol);

// The report's message for a fault of the given type (the names the capture gives faults, such
// as "EAccessViolation"); empty for a type that has no fixed message.
std::string FaultMessageOf(const std::string& type, std::uintptr_t instruction,
                           std::uintptr_t faultAddress, bool write);

// The demangled type name and the message (what() of a standard exception, else empty) of the
// exception in flight, as std::current_exception() finds it; false when there is none.
bool DescribeCurrentException(std::string& type, std::string& message);

// The text of the exception being handled (call only inside a catch block), ended by a full
// stop as the logger's messages are.
std::string CurrentExceptionMessage();

}  // namespace packmeter
