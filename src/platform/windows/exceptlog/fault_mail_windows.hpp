#pragma once

// Mail on Windows: Winsock for the logger's SMTP client, the system's simple mail interface
// (MAPISendMailW), and the shell's "mailto:" handler as the last resort.

#include <memory>

#include "core/exceptlog/fault_email.hpp"

namespace packmeter {

std::unique_ptr<FaultSocketLayer> CreateWinsockLayer();

class FaultMailWindows : public FaultMailPlatform {
  public:
    bool Ask(const std::string& caption, const std::string& text) override;
    void Inform(const std::string& caption, const std::string& text) override;
    std::unique_ptr<FaultSocketLayer> CreateSocketLayer() override { return CreateWinsockLayer(); }
    bool MapiSend(const std::string& recipients, const std::string& subject,
                  const std::string& body, const std::string& attachmentPath,
                  std::string& error) override;
    bool ShellSend(const std::string& mailtoUrl, std::string& error) override;

    bool ActionNotify(int) override { return true; }
    bool ActionError(int) override { return false; }
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override;
};

// The system's text for an error code, as UTF-8 without the trailing line end.
std::string FaultSystemErrorText(unsigned long code);
std::wstring FaultWide(std::string_view utf8);

}  // namespace packmeter
