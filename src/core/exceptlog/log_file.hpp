#pragma once

// The log file: a bounded history of reports, each followed by three empty lines on disk.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exceptlog/fault_log_error.hpp"
#include "core/exceptlog/fault_module_options.hpp"

namespace packmeter {

class TLogFile {
  public:
    explicit TLogFile(std::string fileName) : fileName_(std::move(fileName)) {}

    // Reads the file when it exists. False when it exists but cannot be read.
    bool Load();
    // Splits a log text into reports: a report ends at its third consecutive empty line.
    void LoadFromText(std::string_view text);
    // Every report followed by CR LF.
    std::string Text() const;
    bool Save() const;
    // Appends a report, ended by two empty lines.
    void Add(std::string_view report);

    const std::string& FileName() const { return fileName_; }
    std::vector<std::string> Items;

  private:
    std::string fileName_;
};

// The values of a report's Exception lines (its lines 8 to 11) joined in the order Message,
// Type, Module, Address; none when the report is shorter.
std::optional<std::string> ReportKey(std::string_view report);

// The logger's hooks around saving, as the log save sees them.
class FaultLogActions {
  public:
    virtual ~FaultLogActions() = default;
    // Before (code 2) and after (code 3) saving; false before saving skips it.
    virtual bool ActionNotify(int code) = 0;
    // After a failed save; true asks for another try.
    virtual bool ActionError(int code) = 0;
    virtual void Warning(TFaultLogErrorCode code, std::string_view section,
                         std::string_view message) = 0;
};

// Appends a report to the options' log file by the LogFileOptions rules. `versionNumber` is the
// report's Version Number value. False when the save failed (and was not retried to success).
bool SaveReportToLog(std::string_view report, const TFaultModuleOptions& options,
                     std::string_view versionNumber, FaultLogActions& actions);

}  // namespace packmeter
