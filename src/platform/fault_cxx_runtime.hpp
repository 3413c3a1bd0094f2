#pragma once

// What the fault logger reads from the C++ runtime (GCC's ABI on both systems): readable names
// and the exception in flight.

#include <cstddef>
#include <string>
#include <vector>

namespace packmeter {

// The readable form of a mangled C++ name; the name itself when it is not one.
std::string DemangleSymbol(const std::string& symbol);

// The demangled type name and the message (what() of a standard exception, else empty) of the
// exception in flight, as std::current_exception() finds it; false when there is none.
// `ancestors`: the standard classes it is also an instance of, nearest first, one a line.
bool DescribeCurrentException(std::string& type, std::string& message, std::string& ancestors);

// What a fault record keeps of a C++ exception, in buffers of its own: the record is written by
// the failing thread and read by the logger's thread, and must not need the heap to be read.
struct FaultExceptionText {
    char type[256] = {};
    char message[1024] = {};
    // The classes the exception is also an instance of, one a line.
    char ancestors[1024] = {};
};

// Copies a text into a buffer of `size` bytes, cut to fit and always ended.
void CopyFaultText(char* target, std::size_t size, const char* text);
// The exception in flight, or, without one (std::terminate called directly), the abnormal
// termination's own type and message.
void RecordCurrentExceptionText(FaultExceptionText& text);

}  // namespace packmeter
