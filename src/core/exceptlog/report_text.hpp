#pragma once

// The text of one fault report: labelled sections, then the call-stack table.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/exceptlog/fault_module_options.hpp"

namespace packmeter {

struct TFaultModuleInfo;

// How a call-stack entry was named.
enum FaultDebugKind : std::uint8_t {
    dkOutsideModules = 0,  // outside every module
    dkModule = 1,          // module known
    dkProcedure = 2,       // procedure name from the function list
    dkUnitProcedure = 3,   // unit and procedure from the function list
    dkDebugInfo = 4,       // named from the module's debug-information block
};

struct TFaultDebugInfo {
    FaultDebugKind Kind = dkOutsideModules;
    const TFaultModuleInfo* Module = nullptr;
    std::uintptr_t Address = 0;
    std::string UnitName;
    std::string ClassName;
    std::string ProcedureName;
    std::int32_t Line = 0;  // 0: none
};
using TFaultStackList = std::vector<TFaultDebugInfo>;

// The report's values, indexed by FaultLogField.
using FaultReportValues = std::array<std::string, kFaultLogFieldCount>;

// The sections, lines joined by CR LF, without a final line end. A value whose LogFields bit is
// clear is left empty; the Active Controls section is only present in a windowed program.
std::string BuildReportSections(const FaultReportValues& values, const TFaultModuleOptions& options,
                                bool windowed);
// The call-stack table of the named entries (kinds 2 to 4), lines joined by CR LF.
std::string BuildCallStackTable(const TFaultStackList& stack, const TFaultModuleOptions& options);
// Sections, an empty line, the table.
std::string BuildReportText(const FaultReportValues& values, const TFaultStackList& stack,
                            const TFaultModuleOptions& options, bool windowed);
// The text written to standard output by a console program: the heading, then the report.
std::string BuildConsoleText(std::string_view report, const TFaultModuleOptions& options);
// The page a server program answers with.
std::string BuildHtmlReport(std::string_view consoleText, const TFaultModuleOptions& options);

// Value texts.
std::string FormatReportDate(const std::tm& time);        // "mm/dd/yyyy hh:nn:ss"
std::string FormatReportAddress(std::uintptr_t address);  // hexadecimal; empty for 0
std::string FormatReportMessage(std::string_view message);
std::string FormatWindowText(std::string_view text);  // at most 255 characters
std::string FormatMemoryMb(std::uint64_t bytes);
std::string FormatDiskGb(std::uint64_t bytes);
std::string FileNamePart(std::string_view path);

}  // namespace packmeter
