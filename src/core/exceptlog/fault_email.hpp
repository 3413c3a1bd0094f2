#pragma once

// Mailing a report: by the logger's own SMTP client when a server is configured, otherwise by
// the system's mail interface and, when that fails, by the user's mail client through a
// "mailto:" address.

#include <memory>
#include <string>
#include <string_view>

#include "core/exceptlog/fault_module_options.hpp"
#include "core/exceptlog/fault_socket.hpp"
#include "core/exceptlog/log_file.hpp"

namespace packmeter {

// What only the platform can do for the mail, besides the hooks of every action.
class FaultMailPlatform : public FaultLogActions {
  public:
    // A Yes/No question; true for Yes.
    virtual bool Ask(const std::string& caption, const std::string& text) = 0;
    virtual void Inform(const std::string& caption, const std::string& text) = 0;
    virtual std::unique_ptr<FaultSocketLayer> CreateSocketLayer() = 0;
    // Hands the message to the system's mail interface; false with the error text.
    virtual bool MapiSend(const std::string& recipients, const std::string& subject,
                          const std::string& body, const std::string& attachmentPath,
                          std::string& error) = 0;
    // Opens the user's mail client on a "mailto:" address; false with the error text when it
    // cannot be started.
    virtual bool ShellSend(const std::string& mailtoUrl, std::string& error) = 0;
};

// The "mailto:" address: recipients, then the subject and body percent-encoded.
std::string BuildMailtoUrl(std::string_view recipients, std::string_view subject,
                           std::string_view body);

// The body of the shell's message: the message without "&", followed by the report when the
// log file is kept.
std::string ShellMailBody(const TFaultModuleOptions& options, std::string_view report);

// Mails the report as the options say, asking or telling the user first when they say so;
// failures become warnings and are offered for retry. The report is the full report text,
// empty for the mail sent when the program ends. True when the mail went out.
bool SendReport(const TFaultModuleOptions& options, std::string_view report,
                FaultMailPlatform& platform, int smtpTimeoutMs = 30000);

// The mail sent once when the program ends after at least one report: NotePendingMail keeps
// the options of a report made with EmailSendMode 1, SendPendingMail sends it (with an empty
// report) and forgets it. Both are safe to call from any thread.
void NotePendingMail(const TFaultModuleOptions& options);
bool SendPendingMail(FaultMailPlatform& platform);

// While the window's thread waits for a report (its own fault or exception, or it is stopped
// as frozen), the mail of that report (EmailSendMode 2) is held: its question is asked in the
// window, which only that thread can show. The thread that shows the report's dialog sends it
// afterwards with SendHeldReportMail, which also ends the hold.
void HoldReportMail(bool hold);
bool ReportMailHeld();
void NoteHeldReportMail(const TFaultModuleOptions& options, std::string report);
bool SendHeldReportMail(FaultMailPlatform& platform);

}  // namespace packmeter
