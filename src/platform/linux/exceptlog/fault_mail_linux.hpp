#pragma once

// Mail on Linux: sockets with OpenSSL for the logger's SMTP client, xdg-email as the desktop's
// way to hand a message with an attachment to the user's mail program, and xdg-open on a
// "mailto:" address as the last resort.

#include <memory>

#include "core/exceptlog/fault_email.hpp"

namespace packmeter {

std::unique_ptr<FaultSocketLayer> CreatePosixSocketLayer();

class FaultMailLinux : public FaultMailPlatform {
  public:
    // Asks in the program's window when it has one, otherwise on the terminal when there is
    // one; without either nobody can answer, and the answer is No. Informs the same way, or
    // on stderr.
    bool Ask(const std::string& caption, const std::string& text) override;
    void Inform(const std::string& caption, const std::string& text) override;
    std::unique_ptr<FaultSocketLayer> CreateSocketLayer() override {
        return CreatePosixSocketLayer();
    }
    bool MapiSend(const std::string& recipients, const std::string& subject,
                  const std::string& body, const std::string& attachmentPath,
                  std::string& error) override;
    bool ShellSend(const std::string& mailtoUrl, std::string& error) override;

    bool ActionNotify(int) override { return true; }
    bool ActionError(int) override { return false; }
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override;
};

}  // namespace packmeter
