#pragma once

// The report's platform calls that are the same on every system: names demangled through the
// C++ runtime, the dialog and a filtered exception's message kept for the capture flow to show,
// the console text on stdout and warnings on stderr and in the trace. Each system's reporter
// adds where addresses lie, the local date and its mail.

#include <iostream>
#include <string>
#include <string_view>

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_log_error.hpp"
#include "core/exceptlog/fault_report.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "platform/fault_cxx_runtime.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter {

class SharedFaultReportPlatform : public FaultReportPlatform {
  public:
    std::string Demangle(const std::string& symbol) override { return DemangleSymbol(symbol); }
    void FillSystemValues(FaultReportValues& values) override { FillSystemReportValues(values); }
    void ShowFilterMessage(const std::string& caption, const std::string& message) override {
        NoteFilterMessage(caption, message);
    }
    void ShowReport(const std::string& consoleText) override {
        std::cout << consoleText << std::endl;
    }
    void ShowErrorDialog(const FaultDialogData& data) override { NoteFaultDialog(data); }
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override {
        const std::string line = FaultWarningLine(code, section, message);
        NoteWarning(line);
        std::cerr << line << '\n';
        FaultTrace().Note(line);
    }

  protected:
    // Where the system has a debugger's channel, the warning goes there too.
    virtual void NoteWarning(const std::string& /*line*/) {}
};

}  // namespace packmeter
