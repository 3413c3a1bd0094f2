#pragma once

// The logger's options for one module, as written into the module's data block by the
// post-build step, and their stream format.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/exceptlog/byte_stream.hpp"

namespace packmeter {

// The data-block version written by this build; older versions are still read.
inline constexpr std::uint16_t kFaultDataVersion = 424;
inline constexpr int kFaultCustomTextCount = 45;
inline constexpr int kFaultLogFieldCount = 20;

// LogFields bits, one per report value, in report order.
enum FaultLogField : int {
    lfStartDate,
    lfAppName,
    lfVersionNumber,
    lfExceptionDate,
    lfExceptionAddress,
    lfExceptionModule,
    lfExceptionType,
    lfExceptionMessage,
    lfFormClass,
    lfFormText,
    lfControlClass,
    lfControlText,
    lfComputerName,
    lfTotalMemory,
    lfFreeMemory,
    lfTotalDisk,
    lfFreeDisk,
    lfOSType,
    lfOSBuild,
    lfOSLanguage,
};

// The stored name of a LogFields bit: "Application|Start Date" for bit 0; empty past bit 19.
std::string_view FaultLogFieldName(int bit);

// LogFileOptions bits.
inline constexpr std::uint8_t kLogKeepEveryReport = 1;
inline constexpr std::uint8_t kLogResetOnNewVersion = 2;
inline constexpr std::uint8_t kLogSkipDuplicates = 4;

class TFaultModuleOptions {
  public:
    explicit TFaultModuleOptions(std::string moduleFileName = {});
    virtual ~TFaultModuleOptions() = default;
    TFaultModuleOptions(const TFaultModuleOptions&) = delete;
    TFaultModuleOptions& operator=(const TFaultModuleOptions&) = delete;

    virtual void SetActive(bool value) { active_ = value; }
    virtual void SetFreezeActive(bool value) { freezeActive_ = value; }
    // Copies every field except Active and ModuleFileName. Returns the error text, empty on
    // success: a missing source is refused.
    virtual std::string Assign(const TFaultModuleOptions* source);
    // Every field to its default; the two filter lists stay as they are.
    virtual void SetDefaultValues();
    // Writes the option stream in the current layout.
    virtual void SaveToStream(ByteWriter& stream) const;
    // Reads the option stream in the layout of data-block version `version`; items that the
    // layout lacks keep their current values. False when the stream ends early.
    virtual bool LoadFromStream(ByteReader& stream, std::uint16_t version);

    bool Active() const { return active_; }
    bool FreezeActive() const { return freezeActive_; }
    const std::string& GetCustomText(int index) const { return CustomTexts.at(index); }

    // The file for a given file name: OutputPath itself when it names a ".flog" file,
    // otherwise the name part of `fileName` in OutputPath or, when that is empty, in the
    // folder of `fileName`.
    std::string OutputFile(const std::string& fileName) const;
    // OutputFile of ModuleFileName with the extension ".flog".
    std::string OutputLogFile() const;

    std::string SmtpHost;
    std::string SmtpUserId;
    std::string SmtpPassword;
    bool RestartOnTerminate = true;
    std::int32_t FreezeTimeout = 60;
    std::string FreezeMessage;
    bool CustomDialogColors = true;
    std::string ModuleFileName;
    std::uint32_t LogFields = 0xFFFFFFFF;
    std::vector<std::string> FilterClassNames;
    std::vector<std::string> FilterMessages;
    std::array<std::string, kFaultCustomTextCount> CustomTexts;
    bool LegacyFlag = true;
    bool FilterEnabled = true;
    bool SuppressOutput = false;
    bool AppendLogToBody = false;
    bool TerminateButtonEnabled = true;
    bool SaveLogFile = true;
    std::uint8_t LogFileOptions = 0;
    std::uint8_t DialogStartsOnGeneral = 1;
    std::int32_t MaxLoggedErrors = 32;
    std::int32_t TerminateButtonAfter = 3;
    std::string OutputPath;
    std::string EmailAddresses;
    std::string EmailSubject;
    std::string EmailMessage;
    std::uint8_t EmailSendMode = 0;
    std::uint8_t EmailConfirmMode = 2;

  protected:
    bool active_ = true;
    bool freezeActive_ = false;
};

// The first filter entry that names one of the classes (the exception's own and its ancestors;
// compared ignoring case and surrounding blanks), when the filter is enabled; its message is
// FilterMessages at the same index (empty when missing).
std::optional<std::size_t> FindFilterEntry(TFaultModuleOptions& options,
                                           const std::vector<std::string>& classes);

// The options object the logger creates for every module. On the program's own module the
// logger gives it a watchdog switch, which is told whether the frozen-application watchdog
// should run whenever Active or FreezeActive changes.
class TFaultModuleOptionsEx : public TFaultModuleOptions {
  public:
    using TFaultModuleOptions::TFaultModuleOptions;

    void SetActive(bool value) override;
    void SetFreezeActive(bool value) override;

    void SetWatchdogSwitch(std::function<void(bool run)> watchdogSwitch) {
        watchdogSwitch_ = std::move(watchdogSwitch);
    }

  private:
    std::function<void(bool run)> watchdogSwitch_;
};

}  // namespace packmeter
