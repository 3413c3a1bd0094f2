#include "core/exceptlog/options_text.hpp"

#include <charconv>
#include <functional>
#include <map>

namespace packmeter {

namespace {

std::string Unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

bool ParseNumber(std::string_view text, std::int64_t& value) {
    int base = 10;
    if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string ApplyOptionsText(std::string_view text, TFaultModuleOptions& options) {
    using Setter = std::function<bool(const std::string&)>;
    const auto textField = [](std::string& field) {
        return Setter([&field](const std::string& v) {
            field = v;
            return true;
        });
    };
    const auto flag = [](bool& field) {
        return Setter([&field](const std::string& v) {
            field = v == "1";
            return v == "0" || v == "1";
        });
    };
    const auto number = [](auto& field, std::int64_t low, std::int64_t high) {
        return Setter([&field, low, high](const std::string& v) {
            std::int64_t n = 0;
            if (!ParseNumber(v, n) || n < low || n > high) {
                return false;
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(n);
            return true;
        });
    };
    bool freezeActive = options.FreezeActive();
    const std::map<std::string, Setter, std::less<>> setters = {
        {"SmtpHost", textField(options.SmtpHost)},
        {"SmtpUserId", textField(options.SmtpUserId)},
        {"SmtpPassword", textField(options.SmtpPassword)},
        {"RestartOnTerminate", flag(options.RestartOnTerminate)},
        {"FreezeActive", flag(freezeActive)},
        {"FreezeTimeout", number(options.FreezeTimeout, 0, INT32_MAX)},
        {"FreezeMessage", textField(options.FreezeMessage)},
        {"CustomDialogColors", flag(options.CustomDialogColors)},
        {"LogFields", number(options.LogFields, 0, UINT32_MAX)},
        {"LegacyFlag", flag(options.LegacyFlag)},
        {"FilterEnabled", flag(options.FilterEnabled)},
        {"SuppressOutput", flag(options.SuppressOutput)},
        {"AppendLogToBody", flag(options.AppendLogToBody)},
        {"TerminateButtonEnabled", flag(options.TerminateButtonEnabled)},
        {"SaveLogFile", flag(options.SaveLogFile)},
        {"LogFileOptions", number(options.LogFileOptions, 0, 255)},
        {"DialogStartsOnGeneral", number(options.DialogStartsOnGeneral, 0, 255)},
        {"MaxLoggedErrors", number(options.MaxLoggedErrors, INT32_MIN, INT32_MAX)},
        {"TerminateButtonAfter", number(options.TerminateButtonAfter, INT32_MIN, INT32_MAX)},
        {"OutputPath", textField(options.OutputPath)},
        {"EmailAddresses", textField(options.EmailAddresses)},
        {"EmailSubject", textField(options.EmailSubject)},
        {"EmailMessage", textField(options.EmailMessage)},
        {"EmailSendMode", number(options.EmailSendMode, 0, 2)},
        {"EmailConfirmMode", number(options.EmailConfirmMode, 0, 2)},
        {"Filter", Setter([&](const std::string& v) {
             const auto bar = v.find('|');
             options.FilterClassNames.push_back(v.substr(0, bar));
             options.FilterMessages.push_back(bar == std::string::npos ? "" : v.substr(bar + 1));
             return true;
         })},
    };
    int lineNumber = 0;
    std::string error;
    for (std::size_t at = 0; at < text.size() && error.empty();) {
        auto end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto equals = line.find('=');
        const std::string_view name = line.substr(0, equals);
        const std::string value =
            equals == std::string_view::npos ? std::string{} : Unescaped(line.substr(equals + 1));
        const auto where = "line " + std::to_string(lineNumber) + ": ";
        if (equals == std::string_view::npos) {
            error = where + "no \"=\"";
        } else if (name.substr(0, 11) == "CustomText.") {
            std::int64_t index = 0;
            if (!ParseNumber(name.substr(11), index) || index < 0 ||
                index >= kFaultCustomTextCount) {
                error = where + "no text \"" + std::string(name) + "\"";
            } else {
                options.CustomTexts[static_cast<std::size_t>(index)] = value;
            }
        } else if (const auto setter = setters.find(name); setter == setters.end()) {
            error = where + "unknown name \"" + std::string(name) + "\"";
        } else if (!setter->second(value)) {
            error = where + "bad value \"" + value + "\" for " + std::string(name);
        }
    }
    options.SetFreezeActive(freezeActive);
    return error;
}

}  // namespace packmeter
