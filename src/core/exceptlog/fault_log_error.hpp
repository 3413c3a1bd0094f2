#pragma once

// The logger's own failures: warnings of actions that failed (processing goes on) and the
// internal-error line of a failed notification step.

#include <string>
#include <string_view>

namespace packmeter {

enum TFaultLogErrorCode {
    flNone,
    flShowError,
    flLogError,
    flEmailMAPIError,
    flEmailShellError,
    flEmailSMTPError,
};

std::string_view FaultLogErrorCodeName(TFaultLogErrorCode code);

// "[WARNING] - Code: flLogError - Message: "[Log] reason"", or with "General 'Log' error." when
// there is no reason.
std::string FaultWarningLine(TFaultLogErrorCode code, std::string_view section,
                             std::string_view message);

// "[ERROR] - Section: InternalExceptNotify.7 - Message: "reason"", or with
// "General internal error." when there is no reason.
std::string FaultInternalErrorLine(int step, std::string_view message);

}  // namespace packmeter
