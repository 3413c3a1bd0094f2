#pragma once

// One report from a captured fault or exception, whatever the platform: the call stack named,
// the faulting module's options in force, the filter, the report text, its output and the log
// file. The platform supplies what only it can tell.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/fault_email.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/log_file.hpp"
#include "core/exceptlog/report_text.hpp"

namespace packmeter {

struct FaultReportInput {
    // Call sites, innermost first; a fault's instruction comes first.
    std::vector<std::uintptr_t> callSites;
    // The fault's instruction; 0 for a C++ exception, whose address is taken from its throw.
    std::uintptr_t address = 0;
    bool exception = false;
    std::string type;
    std::string message;
    // The classes Type is also an instance of (a C++ exception's standard bases), nearest first.
    std::vector<std::string> ancestors;
};

// The step of the report under way in the calling thread, for the line of an internal error:
// 2 the faulting module, 3 the filter, 4 the call stack, 7 the report text, 8 the count, 9 the
// output, 10 the log file, 11 the mail.
int FaultReportStep();
void SetFaultReportStep(int step);
// For the tests of the logger's failure handling: every report throws once it reaches `step`
// (0: never), as a failing step would.
void FailFaultReportAtStep(int step);

// The lines of a text, without empty ones.
std::vector<std::string> SplitLines(std::string_view text);

class FaultReportPlatform : public FaultLogActions {
  public:
    // The record of the module holding an address, registered on first use; null outside
    // every module.
    virtual const TFaultModuleInfo* ModuleOf(std::uintptr_t address) = 0;
    virtual std::string Demangle(const std::string& symbol) = 0;
    // Name/Description, Version Number, Computer and Operating System values.
    virtual void FillSystemValues(FaultReportValues& values) = 0;
    virtual std::string LocalDate(std::chrono::system_clock::time_point time) = 0;
    // Shows the message of a filtered exception, and the report of an unfiltered one.
    virtual void ShowFilterMessage(const std::string& caption, const std::string& message) = 0;
    virtual void ShowReport(const std::string& consoleText) = 0;
    // The error dialog of a windowed program.
    virtual void ShowErrorDialog(const FaultDialogData&) {}

    // The platform's way to mail reports; null where there is none.
    virtual FaultMailPlatform* MailPlatform() { return nullptr; }

    bool ActionNotify(int) override { return true; }
    bool ActionError(int) override { return false; }
};

// True when a report was made; false when the logger is not active for the faulting module or
// the filter leaves the exception to the program.
bool ReportFault(const FaultLoggerState& logger, const FaultReportInput& input,
                 FaultReportPlatform& platform, bool windowed);

// The start of the fault logger that both captures share: the trace starts (from the
// program's last argument) and is saved at exit; the logger reads its options from `program`;
// when that makes it active, `installCapture` hooks the platform's capture in and `atExit` is
// registered to run when the program ends. Returns whether the logger is active.
bool StartFaultLogger(const FaultModuleImage& program, const std::string& lastArgument,
                      bool windowedProgram,
                      const std::function<bool(FaultLoggerState&)>& installCapture,
                      void (*atExit)());

}  // namespace packmeter
