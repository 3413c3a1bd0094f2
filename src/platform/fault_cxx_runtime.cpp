#include "platform/fault_cxx_runtime.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace packmeter {

std::string DemangleSymbol(const std::string& symbol) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : symbol;
}

bool DescribeCurrentException(std::string& type, std::string& message) {
    const std::exception_ptr current = std::current_exception();
    if (!current) {
        return false;
    }
    const std::type_info* info = abi::__cxa_current_exception_type();
    type = info ? DemangleSymbol(info->name()) : "unknown exception";
    message.clear();
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        // Not a standard exception: its type is all there is to say.
    }
    return true;
}

}  // namespace packmeter
