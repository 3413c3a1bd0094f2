#pragma once

// The logger's own SMTP client: a socket that keeps a transcript of the conversation and
// raises EFaultSocketError on every failure, and the SMTP dialogue that mails a report.

#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/exceptlog/fault_socket.hpp"

namespace packmeter {

class EFaultSocketError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kSmtpPort = 25;
inline constexpr int kSmtpTimeoutMs = 30000;

class TFaultClientSocket {
  public:
    // Starts the socket library; raises when it cannot be started.
    TFaultClientSocket(std::unique_ptr<FaultSocketLayer> layer, std::string host, int timeoutMs,
                       int port);
    // Disconnects when connected and releases the socket library; errors are dropped here, so
    // call Free first to learn of them.
    virtual ~TFaultClientSocket();
    TFaultClientSocket(const TFaultClientSocket&) = delete;
    TFaultClientSocket& operator=(const TFaultClientSocket&) = delete;

    virtual void Connect();
    virtual void Disconnect();
    // Disconnect and release the socket library, raising on failure.
    void Free();

    // Sends the whole text; a short send is a failure.
    bool SendText(std::string_view text);
    // What has arrived, without waiting.
    std::string ReadAvailable();
    // A whole reply: what arrives first, completed up to its last line; raises "Socket
    // timeout." when nothing arrives within the time-out.
    std::string ReadReply();
    // Sends a command (CR LF added when missing) and reads its reply; raises with the whole
    // transcript unless the reply's code is one of `codes`. Returns the reply. A secret command
    // (the login's answers) stands in the transcript as "***": the transcript reaches warnings
    // and the trace.
    std::string Exchange(std::string command, std::initializer_list<int> codes,
                         bool secret = false);

    const std::string& Transcript() const { return transcript_; }
    bool Connected() const { return connected_; }
    const FaultIpAddress& Address() const { return address_; }
    // Receives an error's text before it is raised.
    std::function<void(const std::string&)> OnError;

  protected:
    [[noreturn]] void Raise(const std::string& text);
    FaultSocketLayer& Layer() { return *layer_; }

    std::string host_;
    int port_;
    int timeoutMs_;

  private:
    std::unique_ptr<FaultSocketLayer> layer_;
    FaultIpAddress address_{};
    bool connected_ = false;
    bool started_ = false;
    std::string transcript_;
};

class TFaultClientSMTP : public TFaultClientSocket {
  public:
    using TFaultClientSocket::TFaultClientSocket;
    // Connects and reads the server's greeting, which must be 220.
    void Connect() override;
    // Greets the server: EHLO, STARTTLS when the server offers it and the connection is still
    // plain, then AUTH LOGIN unless already logged in; or HELO without credentials.
    void Greet(const std::string& user, const std::string& password);
    bool Secure() const { return secure_; }

  private:
    bool secure_ = false;
    bool authenticated_ = false;
};

// Recipients separated by "," or ";", each trimmed; empty parts are dropped.
std::vector<std::string> SplitRecipients(std::string_view text);
// Base64 (RFC 2045 alphabet, "=" fill) in lines of 80 characters, each ended by CR LF.
std::string EncodeBase64Lines(std::string_view data);

struct FaultSmtpMessage {
    std::string typeHeader;  // one or more header lines, without the final CR LF
    std::string bodyPart;    // ends with CR LF
};
// The message's type header and body part: multipart with the file attached unencoded when
// `attachmentText` is given, plain text otherwise.
FaultSmtpMessage BuildSmtpMessage(std::string_view body, const std::string& attachmentName,
                                  const std::string* attachmentText);
// The DATA text for one recipient, dot-stuffed and ended by the line ".".
std::string BuildSmtpData(const std::string& recipient, std::string_view subject,
                          const FaultSmtpMessage& message);

struct FaultSmtpRequest {
    std::string host;
    std::string user;
    std::string password;
    std::string attachmentPath;  // empty: no attachment
    std::string body;
    std::string subject;
    std::string recipients;
    int port = kSmtpPort;
    int timeoutMs = kSmtpTimeoutMs;
};

// Mails the message to every recipient over one connection. False with the error text (the
// transcript for a refused command) when any step failed.
bool SmtpSend(const FaultSmtpRequest& request, std::unique_ptr<FaultSocketLayer> layer,
              std::string& error);

}  // namespace packmeter
