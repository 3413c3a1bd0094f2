#include "core/exceptlog/fault_email.hpp"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "core/exceptlog/fault_smtp.hpp"

namespace packmeter {

namespace {

std::filesystem::path Utf8Path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

bool FileExists(const std::string& name) {
    std::error_code error;
    return std::filesystem::is_regular_file(Utf8Path(name), error);
}

std::string FileText(const std::string& name) {
    std::ifstream in(Utf8Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Everything but unreserved characters percent-encoded, so that a line end or an "&" in the
// text stays part of it.
std::string PercentEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

// One attempt by the configured way; false after recording why it failed.
bool SendOnce(const TFaultModuleOptions& options, std::string_view report,
              FaultMailPlatform& platform, int smtpTimeoutMs) {
    const std::string logFile = options.OutputLogFile();
    const bool logKept = options.SaveLogFile && FileExists(logFile);
    const std::string attachment = logKept && !options.AppendLogToBody ? logFile : std::string{};
    std::string body = options.EmailMessage;
    if (logKept && options.AppendLogToBody) {
        body += "\r\n\r\n\r\n" + FileText(logFile);
    }
    std::string error;
    if (!options.SmtpHost.empty()) {
        FaultSmtpRequest request;
        request.host = options.SmtpHost;
        request.user = options.SmtpUserId;
        request.password = options.SmtpPassword;
        request.attachmentPath = attachment;
        request.body = body;
        request.subject = options.EmailSubject;
        request.recipients = options.EmailAddresses;
        request.timeoutMs = smtpTimeoutMs;
        // A port after the host name: "host:2525".
        if (const auto colon = request.host.rfind(':'); colon != std::string::npos) {
            request.port = std::atoi(request.host.c_str() + colon + 1);
            request.host.resize(colon);
        }
        if (SmtpSend(request, platform.CreateSocketLayer(), error)) {
            return true;
        }
        platform.Warning(flEmailSMTPError, "SMTP", error);
        return false;
    }
    if (platform.MapiSend(options.EmailAddresses, options.EmailSubject, body, attachment, error)) {
        return true;
    }
    platform.Warning(flEmailMAPIError, "MAPI", error);
    const std::string url = BuildMailtoUrl(options.EmailAddresses, options.EmailSubject,
                                           ShellMailBody(options, report));
    if (platform.ShellSend(url, error)) {
        return true;
    }
    platform.Warning(flEmailShellError, "Shell", error);
    return false;
}

}  // namespace

std::string BuildMailtoUrl(std::string_view recipients, std::string_view subject,
                           std::string_view body) {
    std::string to;
    for (const auto& recipient : SplitRecipients(recipients)) {
        to += (to.empty() ? "" : ",") + PercentEncoded(recipient);
    }
    // "@" may stand unencoded in an address.
    for (std::size_t at = to.find("%40"); at != std::string::npos; at = to.find("%40", at)) {
        to.replace(at, 3, "@");
    }
    return "mailto:" + to + "?Subject=" + PercentEncoded(subject) + "&Body=" + PercentEncoded(body);
}

std::string ShellMailBody(const TFaultModuleOptions& options, std::string_view report) {
    std::string body;
    for (const char c : options.EmailMessage) {
        if (c != '&') {
            body += c;
        }
    }
    if (options.SaveLogFile && FileExists(options.OutputLogFile())) {
        body += "\r\n\r\n\r\n";
        body.append(report);
    }
    return body;
}

bool SendReport(const TFaultModuleOptions& options, std::string_view report,
                FaultMailPlatform& platform, int smtpTimeoutMs) {
    if (!platform.ActionNotify(4)) {
        return false;
    }
    bool sent = false;
    for (;;) {
        bool go = true;
        if (options.EmailConfirmMode == 0) {
            go = platform.Ask(options.GetCustomText(1), options.GetCustomText(43));
        } else if (options.EmailConfirmMode == 1) {
            platform.Inform(options.GetCustomText(0), options.GetCustomText(44));
        }
        sent = go && SendOnce(options, report, platform, smtpTimeoutMs);
        if (sent || !platform.ActionError(5)) {
            break;
        }
    }
    platform.ActionNotify(5);
    return sent;
}

namespace {

std::mutex gPendingLock;
std::unique_ptr<TFaultModuleOptions> gPending;
std::atomic<bool> gHold{false};
std::unique_ptr<TFaultModuleOptions> gHeld;
std::string gHeldReport;

}  // namespace

void NotePendingMail(const TFaultModuleOptions& options) {
    auto copy = std::make_unique<TFaultModuleOptions>(options.ModuleFileName);
    copy->Assign(&options);
    const std::lock_guard lock(gPendingLock);
    gPending = std::move(copy);
}

bool SendPendingMail(FaultMailPlatform& platform) {
    std::unique_ptr<TFaultModuleOptions> pending;
    {
        const std::lock_guard lock(gPendingLock);
        pending = std::move(gPending);
    }
    return pending && pending->EmailSendMode == 1 && SendReport(*pending, {}, platform);
}

void HoldReportMail(bool hold) {
    gHold = hold;
}

bool ReportMailHeld() {
    return gHold;
}

void NoteHeldReportMail(const TFaultModuleOptions& options, std::string report) {
    auto copy = std::make_unique<TFaultModuleOptions>(options.ModuleFileName);
    copy->Assign(&options);
    const std::lock_guard lock(gPendingLock);
    gHeld = std::move(copy);
    gHeldReport = std::move(report);
}

bool SendHeldReportMail(FaultMailPlatform& platform) {
    std::unique_ptr<TFaultModuleOptions> held;
    std::string report;
    {
        const std::lock_guard lock(gPendingLock);
        held = std::move(gHeld);
        report = std::move(gHeldReport);
        gHold = false;
    }
    return held && SendReport(*held, report, platform);
}

}  // namespace packmeter
