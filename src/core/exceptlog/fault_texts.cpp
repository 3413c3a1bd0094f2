#include "core/exceptlog/fault_texts.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "core/exceptlog/report_text.hpp"

namespace packmeter {

std::string DemangleSymbol(const std::string& symbol) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : symbol;
}

std::string FaultMessageOf(const std::string& type, std::uintptr_t instruction,
                           std::uintptr_t faultAddress, bool write) {
    const std::string at = FormatReportAddress(instruction);
    if (type == "EAccessViolation") {
        const std::string target = faultAddress ? FormatReportAddress(faultAddress) : "00000000";
        return "Access violation at address " + at + ". " + (write ? "Write" : "Read") +
               " of address " + target;
    }
    if (type == "EStackOverflow") {
        return "Stack overflow";
    }
    if (type == "EBusError") {
        return "Bus error at address " + at;
    }
    if (type == "EIllegalInstruction") {
        return "Illegal instruction at address " + at;
    }
    if (type == "EDivByZero") {
        return "Division by zero";
    }
    if (type == "EIntOverflow") {
        return "Integer overflow";
    }
    if (type == "EMathError") {
        return "Floating-point error at address " + at;
    }
    return {};
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

std::string CurrentExceptionMessage() {
    std::string message = "Unknown exception";
    try {
        throw;
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
    }
    if (message.empty() || message.back() != '.') {
        message += '.';
    }
    return message;
}

}  // namespace packmeter
