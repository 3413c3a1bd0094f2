#include "platform/fault_cxx_runtime.hpp"

#include <cxxabi.h>

#include <any>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <ios>
#include <memory>
#include <new>
#include <optional>
#include <regex>
#include <stdexcept>
#include <system_error>
#include <typeinfo>
#include <variant>

namespace packmeter {

std::string DemangleSymbol(const std::string& symbol) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : symbol;
}

namespace {

template <class Class>
bool IsA(const std::exception_ptr& current) {
    try {
        std::rethrow_exception(current);
    } catch (const Class&) {
        return true;
    } catch (...) {
        return false;
    }
}

// The standard library's exception classes, each after its subclasses: the catch ladder that
// names the classes an exception is also an instance of, whatever its own class.
struct StandardClass {
    const char* name;
    bool (*is)(const std::exception_ptr&);
};
const StandardClass kStandardClasses[] = {
    {"std::filesystem::filesystem_error", IsA<std::filesystem::filesystem_error>},
    {"std::ios_base::failure", IsA<std::ios_base::failure>},
    {"std::system_error", IsA<std::system_error>},
    {"std::future_error", IsA<std::future_error>},
    {"std::regex_error", IsA<std::regex_error>},
    {"std::range_error", IsA<std::range_error>},
    {"std::overflow_error", IsA<std::overflow_error>},
    {"std::underflow_error", IsA<std::underflow_error>},
    {"std::runtime_error", IsA<std::runtime_error>},
    {"std::domain_error", IsA<std::domain_error>},
    {"std::invalid_argument", IsA<std::invalid_argument>},
    {"std::length_error", IsA<std::length_error>},
    {"std::out_of_range", IsA<std::out_of_range>},
    {"std::logic_error", IsA<std::logic_error>},
    {"std::bad_array_new_length", IsA<std::bad_array_new_length>},
    {"std::bad_alloc", IsA<std::bad_alloc>},
    {"std::bad_any_cast", IsA<std::bad_any_cast>},
    {"std::bad_cast", IsA<std::bad_cast>},
    {"std::bad_typeid", IsA<std::bad_typeid>},
    {"std::bad_function_call", IsA<std::bad_function_call>},
    {"std::bad_optional_access", IsA<std::bad_optional_access>},
    {"std::bad_variant_access", IsA<std::bad_variant_access>},
    {"std::bad_exception", IsA<std::bad_exception>},
    {"std::exception", IsA<std::exception>},
};

}  // namespace

bool DescribeCurrentException(std::string& type, std::string& message, std::string& ancestors) {
    const std::exception_ptr current = std::current_exception();
    if (!current) {
        return false;
    }
    const std::type_info* info = abi::__cxa_current_exception_type();
    type = info ? DemangleSymbol(info->name()) : "unknown exception";
    message.clear();
    ancestors.clear();
    for (const auto& standard : kStandardClasses) {
        if (standard.name != type && standard.is(current)) {
            ancestors += standard.name;
            ancestors += '\n';
        }
    }
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        // Not a standard exception: its type is all there is to say.
    }
    return true;
}

void CopyFaultText(char* target, std::size_t size, const char* text) {
    std::size_t i = 0;
    for (; text && text[i] && i + 1 < size; ++i) {
        target[i] = text[i];
    }
    target[i] = '\0';
}

void RecordCurrentExceptionText(FaultExceptionText& text) {
    std::string type;
    std::string message;
    std::string ancestors;
    if (DescribeCurrentException(type, message, ancestors)) {
        CopyFaultText(text.type, sizeof text.type, type.c_str());
        CopyFaultText(text.message, sizeof text.message, message.c_str());
        CopyFaultText(text.ancestors, sizeof text.ancestors, ancestors.c_str());
    } else {
        CopyFaultText(text.type, sizeof text.type, "EAbnormalTermination");
        CopyFaultText(text.message, sizeof text.message, "The program was terminated.");
    }
}

}  // namespace packmeter
