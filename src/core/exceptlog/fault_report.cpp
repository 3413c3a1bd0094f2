#include "core/exceptlog/fault_report.hpp"

#include <atomic>
#include <stdexcept>
#include <string>

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/fault_texts.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/stack_scan.hpp"

namespace packmeter {

namespace {
thread_local int tReportStep = 0;
std::atomic<int> gFailingStep{0};
}  // namespace

int FaultReportStep() {
    return tReportStep;
}

void SetFaultReportStep(int step) {
    tReportStep = step;
    if (step == gFailingStep.load()) {
        throw std::runtime_error("Step " + std::to_string(step) + " failed.");
    }
}

void FailFaultReportAtStep(int step) {
    gFailingStep = step;
}

bool ReportFault(const FaultLoggerState& logger, const FaultReportInput& input,
                 FaultReportPlatform& platform, bool windowed) {
    SetFaultReportStep(6);
    std::vector<std::uintptr_t> addresses = input.callSites;
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
    std::uintptr_t address = input.exception ? 0 : input.address;
    for (std::size_t i = 0; input.exception && i + 1 < callStack.size(); ++i) {
        if (callStack[i].ProcedureName == "__cxa_throw") {
            address = callStack[i + 1].Address;
            break;
        }
    }
    SetFaultReportStep(2);
    const TFaultModuleInfo* faulting = platform.ModuleOf(address);
    const TFaultModuleInfo* configured =
        faulting && faulting->DebugInfo ? faulting : logger.ProgramModule();
    if (!configured || !configured->Options->Active()) {
        return false;
    }
    TFaultModuleOptions options(configured->FileName);
    options.Assign(configured->Options.get());
    SetFaultReportStep(3);
    // A filtered class, or a class derived from one, is left to the program; its message, if
    // any, is shown instead.
    std::vector<std::string> classes = {input.type};
    classes.insert(classes.end(), input.ancestors.begin(), input.ancestors.end());
    for (const auto& ancestor : FaultTypeAncestors(input.type)) {
        classes.push_back(ancestor);
    }
    if (const auto entry = FindFilterEntry(options, classes)) {
        if (!options.FilterMessages[*entry].empty()) {
            platform.ShowFilterMessage(options.GetCustomText(0), options.FilterMessages[*entry]);
        }
        return false;
    }

    SetFaultReportStep(7);
    FaultReportValues values;
    platform.FillSystemValues(values);
    FillActiveControls(values);
    values[lfStartDate] = platform.LocalDate(logger.StartTime());
    values[lfExceptionDate] = platform.LocalDate(std::chrono::system_clock::now());
    values[lfExceptionAddress] = FormatReportAddress(address);
    values[lfExceptionModule] = faulting ? FileNamePart(faulting->FileName) : "";
    values[lfExceptionType] = input.type;
    values[lfExceptionMessage] = FormatReportMessage(input.message);
    const std::string report = BuildReportText(values, callStack, options, windowed);
    SetFaultReportStep(8);
    const int errors = logger.CountError();
    SetFaultReportStep(9);
    if (!options.SuppressOutput) {
        if (windowed) {
            platform.ShowErrorDialog(MakeFaultDialogData(
                FaultShortMessage(input.message, input.type),
                BuildReportSections(values, options, windowed), callStack, options, errors));
        } else {
            platform.ShowReport(BuildConsoleText(report, options));
        }
    }
    SetFaultReportStep(10);
    SaveReportToLog(report, options, values[lfVersionNumber], platform);
    SetFaultReportStep(11);
    if (options.EmailSendMode == 1) {
        NotePendingMail(options);
    } else if (options.EmailSendMode == 2 && ReportMailHeld()) {
        NoteHeldReportMail(options, report);
    } else if (auto* mail = platform.MailPlatform(); mail && options.EmailSendMode == 2) {
        SendReport(options, report, *mail);
    }
    return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end != 0) {
            lines.emplace_back(text.substr(0, end));
        }
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
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
