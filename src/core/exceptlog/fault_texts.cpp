#include "core/exceptlog/fault_texts.hpp"

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "core/exceptlog/report_text.hpp"

namespace packmeter {

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

std::vector<std::string> FaultTypeAncestors(std::string_view type) {
    static const struct {
        std::string_view type;
        std::string_view parent;
    } kParents[] = {
        {"EAccessViolation", "EExternal"},
        {"EStackOverflow", "EExternal"},
        {"EBusError", "EExternal"},
        {"EIllegalInstruction", "EExternal"},
        {"EDivByZero", "EIntError"},
        {"EIntOverflow", "EIntError"},
        {"EIntError", "EExternal"},
        {"EMathError", "EExternal"},
        {"EExternalException", "EExternal"},
        {"EExternal", "Exception"},
        {"EAbnormalTermination", "Exception"},
        {"EFrozenApplication", "Exception"},
    };
    std::vector<std::string> ancestors;
    for (bool found = true; found;) {
        found = false;
        for (const auto& entry : kParents) {
            if (entry.type == type) {
                ancestors.emplace_back(entry.parent);
                type = entry.parent;
                found = true;
                break;
            }
        }
    }
    return ancestors;
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
