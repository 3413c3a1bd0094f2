#include "core/exceptlog/fault_module_options.hpp"

#include <algorithm>
#include <cctype>

#include "core/utils/text.hpp"

namespace packmeter {

namespace {

constexpr std::array<std::string_view, kFaultLogFieldCount> kLogFieldNames = {
    "Application|Start Date",
    "Application|Name",
    "Application|Version Number",
    "Exception|Date",
    "Exception|Address",
    "Exception|Module",
    "Exception|Type",
    "Exception|Message",
    "Active Controls|Form Class",
    "Active Controls|Form Text",
    "Active Controls|Control Class",
    "Active Controls|Control Text",
    "Computer|Name",
    "Computer|Total Memory",
    "Computer|Free Memory",
    "Computer|Total Disk",
    "Computer|Free Disk",
    "Operating System|Type",
    "Operating System|Build #",
    "Operating System|Language",
};

constexpr std::array<const char*, kFaultCustomTextCount> kDefaultTexts = {
    "Information.",
    "Question.",
    "Error.",
    "An error has occurred during program execution.\r\n"
    "Please read the following information for further details.",
    "General",
    "General Information",
    "Details",
    "Detailed Information",
    "&OK",
    "&Terminate",
    "&Restart",
    "&Details",
    "Application",
    "Start Date",
    "Name/Description",
    "Version Number",
    "Exception",
    "Date",
    "Address",
    "Module",
    "Type",
    "Message",
    "Active Controls",
    "Form Class",
    "Form Text",
    "Control Class",
    "Control Text",
    "Computer",
    "Name",
    "Total Memory",
    "Free Memory",
    "Total Disk",
    "Free Disk",
    "Operating System",
    "Type",
    "Build #",
    "Language",
    "Address",
    "Module",
    "Unit",
    "Class",
    "Procedure/Method",
    "Line",
    "May I send an email with occurred error(s) to the author of the program ?",
    "I will now send an email with the error(s) that occurred to the author of the program.",
};

// A text whose only CR LF closes it is stored without it.
std::string_view StoredText(std::string_view text) {
    const auto crlf = text.find("\r\n");
    if (crlf != std::string_view::npos && crlf + 2 == text.size()) {
        text.remove_suffix(2);
    }
    return text;
}

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

std::size_t NameStart(std::string_view path) {
    std::size_t i = path.size();
    while (i > 0 && !IsSeparator(path[i - 1])) {
        --i;
    }
    return i;
}

std::string_view Extension(std::string_view path) {
    const auto name = path.substr(NameStart(path));
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string WithExtension(std::string_view path, std::string_view extension) {
    const auto ext = Extension(path);
    std::string out(path.substr(0, path.size() - ext.size()));
    out += extension;
    return out;
}

}  // namespace

std::string_view FaultLogFieldName(int bit) {
    return bit >= 0 && bit < kFaultLogFieldCount ? kLogFieldNames[bit] : std::string_view{};
}

TFaultModuleOptions::TFaultModuleOptions(std::string moduleFileName)
    : ModuleFileName(std::move(moduleFileName)) {
    SetDefaultValues();
}

void TFaultModuleOptions::SetDefaultValues() {
    SmtpHost.clear();
    SmtpUserId.clear();
    SmtpPassword.clear();
    RestartOnTerminate = true;
    freezeActive_ = false;
    FreezeTimeout = 60;
    FreezeMessage = "The application seems to be frozen.";
    CustomDialogColors = true;
    LogFields = 0xFFFFFFFF;
    std::copy(kDefaultTexts.begin(), kDefaultTexts.end(), CustomTexts.begin());
    LegacyFlag = true;
    FilterEnabled = true;
    SuppressOutput = false;
    AppendLogToBody = false;
    TerminateButtonEnabled = true;
    SaveLogFile = true;
    LogFileOptions = 0;
    DialogStartsOnGeneral = 1;
    MaxLoggedErrors = 32;
    TerminateButtonAfter = 3;
    OutputPath.clear();
    EmailAddresses.clear();
    EmailSubject.clear();
    EmailMessage.clear();
    EmailSendMode = 0;
    EmailConfirmMode = 2;
    active_ = true;
}

std::string TFaultModuleOptions::Assign(const TFaultModuleOptions* source) {
    if (!source) {
        return "Impossible to assign nil as TFaultModuleOptions.";
    }
    if (source == this) {
        return {};
    }
    SmtpHost = source->SmtpHost;
    SmtpUserId = source->SmtpUserId;
    SmtpPassword = source->SmtpPassword;
    RestartOnTerminate = source->RestartOnTerminate;
    freezeActive_ = source->freezeActive_;
    FreezeTimeout = source->FreezeTimeout;
    FreezeMessage = source->FreezeMessage;
    CustomDialogColors = source->CustomDialogColors;
    LogFields = source->LogFields;
    FilterClassNames = source->FilterClassNames;
    FilterMessages = source->FilterMessages;
    CustomTexts = source->CustomTexts;
    LegacyFlag = source->LegacyFlag;
    FilterEnabled = source->FilterEnabled;
    SuppressOutput = source->SuppressOutput;
    AppendLogToBody = source->AppendLogToBody;
    TerminateButtonEnabled = source->TerminateButtonEnabled;
    SaveLogFile = source->SaveLogFile;
    LogFileOptions = source->LogFileOptions;
    DialogStartsOnGeneral = source->DialogStartsOnGeneral;
    MaxLoggedErrors = source->MaxLoggedErrors;
    TerminateButtonAfter = source->TerminateButtonAfter;
    OutputPath = source->OutputPath;
    EmailAddresses = source->EmailAddresses;
    EmailSubject = source->EmailSubject;
    EmailMessage = source->EmailMessage;
    EmailSendMode = source->EmailSendMode;
    EmailConfirmMode = source->EmailConfirmMode;
    return {};
}

void TFaultModuleOptions::SaveToStream(ByteWriter& stream) const {
    const auto text = [&](const std::string& value) { stream.Text(StoredText(value)); };
    stream.Byte(LegacyFlag);
    stream.Byte(FilterEnabled);
    stream.Byte(LogFileOptions);
    stream.Byte(SuppressOutput);
    stream.Byte(AppendLogToBody);
    stream.Byte(SaveLogFile);
    stream.Byte(DialogStartsOnGeneral);
    stream.Byte(CustomDialogColors);
    stream.Byte(freezeActive_);
    stream.Int32(FreezeTimeout);
    text(FreezeMessage);
    text(SmtpHost);
    text(SmtpUserId);
    text(SmtpPassword);
    stream.Byte(RestartOnTerminate);
    stream.Byte(TerminateButtonEnabled);
    stream.Int32(MaxLoggedErrors);
    stream.Int32(TerminateButtonAfter);
    text(EmailAddresses);
    text(EmailSubject);
    stream.Byte(EmailSendMode);
    stream.UInt32(LogFields);
    stream.Byte(EmailConfirmMode);
    text(OutputPath);
    const std::size_t pairs = std::min(FilterClassNames.size(), FilterMessages.size());
    stream.Int32(static_cast<std::int32_t>(FilterClassNames.size()));
    for (std::size_t i = 0; i < FilterClassNames.size(); ++i) {
        text(FilterClassNames[i]);
        text(i < pairs ? FilterMessages[i] : std::string{});
    }
    text(EmailMessage);
    for (const auto& custom : CustomTexts) {
        text(custom);
    }
}

bool TFaultModuleOptions::LoadFromStream(ByteReader& stream, std::uint16_t version) {
    const auto flag = [&](bool& field) {
        std::uint8_t b = 0;
        if (stream.Byte(b)) {
            field = b != 0;
        }
    };
    flag(LegacyFlag);
    flag(FilterEnabled);
    stream.Byte(LogFileOptions);
    flag(SuppressOutput);
    flag(AppendLogToBody);
    if (version > 400) {
        flag(SaveLogFile);
        stream.Byte(DialogStartsOnGeneral);
    }
    if (version > 402) {
        flag(CustomDialogColors);
    }
    if (version >= 420) {
        flag(freezeActive_);
        std::int32_t timeout = 0;
        if (stream.Int32(timeout)) {
            // Older blocks hold the time-out in milliseconds.
            FreezeTimeout = version < 422 ? timeout / 1000 : timeout;
        }
        stream.Text(FreezeMessage);
        stream.Text(SmtpHost);
    }
    if (version > 420) {
        stream.Text(SmtpUserId);
        stream.Text(SmtpPassword);
        flag(RestartOnTerminate);
    }
    flag(TerminateButtonEnabled);
    stream.Int32(MaxLoggedErrors);
    stream.Int32(TerminateButtonAfter);
    stream.Text(EmailAddresses);
    stream.Text(EmailSubject);
    stream.Byte(EmailSendMode);
    stream.UInt32(LogFields);
    stream.Byte(EmailConfirmMode);
    stream.Text(OutputPath);
    std::int32_t count = 0;
    stream.Int32(count);
    FilterClassNames.clear();
    FilterMessages.clear();
    for (std::int32_t i = 0; i < count && !stream.Failed(); ++i) {
        std::string name;
        std::string message;
        stream.Text(name);
        stream.Text(message);
        FilterClassNames.push_back(std::move(name));
        FilterMessages.push_back(std::move(message));
    }
    stream.Text(EmailMessage);
    for (int i = 0; i < kFaultCustomTextCount; ++i) {
        if ((i == 11 && version < 420) || (i == 10 && version <= 420)) {
            continue;
        }
        stream.Text(CustomTexts[i]);
    }
    return !stream.Failed();
}

std::string TFaultModuleOptions::OutputFile(const std::string& fileName) const {
    if (AsciiLower(Extension(OutputPath)) == ".flog") {
        return OutputPath;
    }
    const auto nameStart = NameStart(fileName);
    std::string folder = OutputPath.empty() ? fileName.substr(0, nameStart) : OutputPath;
    if (!folder.empty() && !IsSeparator(folder.back())) {
        folder += kPathSeparator;
    }
    return folder + fileName.substr(nameStart);
}

std::string TFaultModuleOptions::OutputLogFile() const {
    return OutputFile(WithExtension(ModuleFileName, ".flog"));
}

std::optional<std::size_t> FindFilterEntry(TFaultModuleOptions& options,
                                           const std::vector<std::string>& classes) {
    const auto trimmed = [](std::string_view s) {
        const auto first = s.find_first_not_of(' ');
        return first == std::string_view::npos
                   ? std::string{}
                   : AsciiLower(s.substr(first, s.find_last_not_of(' ') - first + 1));
    };
    if (!options.FilterEnabled) {
        return std::nullopt;
    }
    options.FilterMessages.resize(
        std::max(options.FilterMessages.size(), options.FilterClassNames.size()));
    for (std::size_t i = 0; i < options.FilterClassNames.size(); ++i) {
        const std::string entry = trimmed(options.FilterClassNames[i]);
        for (const auto& name : classes) {
            if (trimmed(name) == entry) {
                return i;
            }
        }
    }
    return std::nullopt;
}

void TFaultModuleOptionsEx::SetActive(bool value) {
    const bool changed = value != active_;
    TFaultModuleOptions::SetActive(value);
    if (changed && watchdogSwitch_) {
        watchdogSwitch_(value && freezeActive_);
    }
}

void TFaultModuleOptionsEx::SetFreezeActive(bool value) {
    TFaultModuleOptions::SetFreezeActive(value);
    if (watchdogSwitch_) {
        watchdogSwitch_(value && active_);
    }
}

}  // namespace packmeter
