#pragma once

// What the fault logger reads from the C++ runtime (GCC's ABI on both systems): readable names
// and the exception in flight.

#include <string>
#include <vector>

namespace packmeter {

// The readable form of a mangled C++ name; the name itself when it is not one.
std::string DemangleSymbol(const std::string& symbol);

// The demangled type name and the message (what() of a standard exception, else empty) of the
// exception in flight, as std::current_exception() finds it; false when there is none.
// `ancestors`: the standard classes it is also an instance of, nearest first, one a line.
bool DescribeCurrentException(std::string& type, std::string& message, std::string& ancestors);

}  // namespace packmeter
