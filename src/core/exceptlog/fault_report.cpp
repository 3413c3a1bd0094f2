#include "core/exceptlog/fault_report.hpp"

#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/stack_scan.hpp"

namespace packmeter {

bool ReportFault(const FaultLoggerState& logger, const FaultReportInput& input,
                 FaultReportPlatform& platform, bool windowed) {
    std::vector<std::uintptr_t> addresses = input.CallSites;
    if (addresses.size() >= 2 && addresses[0] == addresses[1]) {
        addresses.erase(addresses.begin());
    }
    const auto demangle = [&](const std::string& symbol) { return platform.Demangle(symbol); };
    TFaultStackList callStack;
    for (const auto address : addresses) {
        callStack.push_back(NameAddress(platform.ModuleOf(address), address, demangle));
    }

    // A C++ exception's address is its throw: the call of the runtime's throw routine, one
    // entry after that routine's own.
    std::uintptr_t address = input.Exception ? 0 : input.Address;
    for (std::size_t i = 0; input.Exception && i + 1 < callStack.size(); ++i) {
        if (callStack[i].ProcedureName == "__cxa_throw") {
            address = callStack[i + 1].Address;
            break;
        }
    }
    const TFaultModuleInfo* faulting = platform.ModuleOf(address);
    const TFaultModuleInfo* configured =
        faulting && faulting->DebugInfo ? faulting : logger.ProgramModule();
    if (!configured || !configured->Options->Active()) {
        return false;
    }
    TFaultModuleOptions options(configured->FileName);
    options.Assign(configured->Options.get());
    // A filtered type is left to the program; its message, if any, is shown instead.
    if (const auto entry = FindFilterEntry(options, input.Type)) {
        if (!options.FilterMessages[*entry].empty()) {
            platform.ShowFilterMessage(options.GetCustomText(0), options.FilterMessages[*entry]);
        }
        return false;
    }

    FaultReportValues values;
    platform.FillSystemValues(values);
    values[lfStartDate] = platform.LocalDate(logger.StartTime());
    values[lfExceptionDate] = platform.LocalDate(std::chrono::system_clock::now());
    values[lfExceptionAddress] = FormatReportAddress(address);
    values[lfExceptionModule] = faulting ? FileNamePart(faulting->FileName) : "";
    values[lfExceptionType] = input.Type;
    values[lfExceptionMessage] = FormatReportMessage(input.Message);
    const std::string report = BuildReportText(values, callStack, options, windowed);
    const int errors = logger.CountError();
    if (!options.SuppressOutput) {
        if (windowed) {
            platform.ShowErrorDialog(MakeFaultDialogData(
                FaultShortMessage(input.Message, input.Type),
                BuildReportSections(values, options, windowed), callStack, options, errors));
        } else {
            platform.ShowReport(BuildConsoleText(report, options));
        }
    }
    SaveReportToLog(report, options, values[lfVersionNumber], platform);
    if (options.EmailSendMode == 1) {
        NotePendingMail(options);
    } else if (auto* mail = platform.MailPlatform(); mail && options.EmailSendMode == 2) {
        SendReport(options, report, *mail);
    }
    return true;
}

bool StartFaultLogger(const FaultModuleImage& program, const std::string& lastArgument,
                      bool windowedProgram,
                      const std::function<bool(FaultLoggerState&)>& installCapture,
                      void (*atExit)()) {
    // The trace is the logger's: a program that carries no logger (the delivered build) writes
    // none, whatever its arguments.
    if (!HasDataBlock(program)) {
        return false;
    }
    FaultTrace().StartFromArgument(lastArgument, program.FileName());
    std::atexit([] { FaultTrace().Save(); });
    FaultTrace().Enter("InstallFaultLogger", {TraceValue::Boolean(windowedProgram)});
    auto& logger = FaultLogger();
    bool active = logger.Start(program);
    if (!logger.StartError().empty()) {
        FaultTrace().Note(logger.StartError());
    }
    if (active) {
        active = installCapture(logger);
        std::atexit(atExit);
    }
    FaultTrace().Exit("InstallFaultLogger", {TraceValue::Boolean(active)});
    return active;
}

}  // namespace packmeter
