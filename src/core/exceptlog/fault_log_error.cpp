#include "core/exceptlog/fault_log_error.hpp"

#include <array>

namespace packmeter {

std::string_view FaultLogErrorCodeName(TFaultLogErrorCode code) {
    constexpr std::array<std::string_view, 6> kNames = {
        "flNone",           "flShowError",       "flLogError",
        "flEmailMAPIError", "flEmailShellError", "flEmailSMTPError",
    };
    return code >= flNone && code <= flEmailSMTPError ? kNames[code] : std::string_view{};
}

std::string FaultWarningLine(TFaultLogErrorCode code, std::string_view section,
                             std::string_view message) {
    const std::string text = message.empty()
                                 ? "General '" + std::string(section) + "' error."
                                 : "[" + std::string(section) + "] " + std::string(message);
    return "[WARNING] - Code: " + std::string(FaultLogErrorCodeName(code)) + " - Message: \"" +
           text + "\"";
}

std::string FaultInternalErrorLine(int step, std::string_view message) {
    return "[ERROR] - Section: InternalExceptNotify." + std::to_string(step) + " - Message: \"" +
           std::string(message.empty() ? "General internal error." : message) + "\"";
}

}  // namespace packmeter
