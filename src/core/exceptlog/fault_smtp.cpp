#include "core/exceptlog/fault_smtp.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "core/exceptlog/report_text.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

constexpr std::string_view kBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";
constexpr std::string_view kCrLf = "\r\n";

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The reply's code: the decimal digits at its start; -1 without any.
int ReplyCode(std::string_view reply) {
    int code = -1;
    for (const char c : reply) {
        if (c < '0' || c > '9') {
            break;
        }
        code = (code < 0 ? 0 : code * 10) + (c - '0');
    }
    return code;
}

// Whether a reply is whole: it ends with a line end and its last line is not a continuation
// line ("250-..."), as a server sends a reply of several lines.
bool ReplyComplete(std::string_view reply) {
    if (reply.size() < 2 || reply.substr(reply.size() - 2) != kCrLf) {
        return false;
    }
    const auto start = reply.rfind(kCrLf, reply.size() - 3);
    const auto last = reply.substr(start == std::string_view::npos ? 0 : start + 2);
    return last.size() < 4 || last[3] != '-';
}

bool OffersStartTls(std::string_view reply) {
    for (const auto line : SplitLines(reply)) {
        if (line.size() >= 4 && Trimmed(line.substr(4)) == "STARTTLS") {
            return true;
        }
    }
    return false;
}

std::filesystem::path Utf8Path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

TFaultClientSocket::TFaultClientSocket(std::unique_ptr<FaultSocketLayer> layer, std::string host,
                                       int timeoutMs, int port)
    : host_(std::move(host)), port_(port), timeoutMs_(timeoutMs), layer_(std::move(layer)) {
    std::string error;
    if (!layer_->Startup(error)) {
        Raise("Error into WSAStartup: " + Quoted(error));
    }
    started_ = true;
}

TFaultClientSocket::~TFaultClientSocket() {
    std::string error;
    if (connected_ || layer_->IsOpen()) {
        layer_->Close(error);
    }
    if (started_) {
        layer_->Cleanup(error);
    }
}

void TFaultClientSocket::Raise(const std::string& text) {
    if (OnError) {
        OnError(text);
    }
    throw EFaultSocketError(text);
}

void TFaultClientSocket::Connect() {
    if (!layer_->Open()) {
        Raise("Invalid socket.");
    }
    address_ = layer_->Resolve(host_);
    std::string error;
    if (!layer_->Connect(address_, port_, timeoutMs_, error)) {
        Raise("Connection error: " + Quoted(error));
    }
    connected_ = true;
    char line[64];
    std::snprintf(line, sizeof line, "Connected to %d.%d.%d.%d port %d\r\n", address_[0],
                  address_[1], address_[2], address_[3], port_);
    transcript_ += line;
}

void TFaultClientSocket::Disconnect() {
    connected_ = false;
    std::string error;
    if (layer_->IsOpen() && !layer_->Close(error)) {
        Raise("Cannot close the socket: " + Quoted(error));
    }
}

void TFaultClientSocket::Free() {
    Disconnect();
    std::string error;
    started_ = false;
    if (!layer_->Cleanup(error)) {
        Raise("Error into WSACleanup: " + Quoted(error));
    }
}

bool TFaultClientSocket::SendText(std::string_view text) {
    std::string error;
    const long sent = layer_->Send(text, error);
    if (sent < 0) {
        std::string ignored;
        layer_->Close(ignored);
        connected_ = false;
        Raise("Error into \"send\": " + Quoted(error));
    }
    return static_cast<std::size_t>(sent) == text.size();
}

std::string TFaultClientSocket::ReadAvailable() {
    std::string data;
    std::string error;
    switch (layer_->Read(data, error)) {
        case FaultSocketLayer::ReadResult::kData:
            return data;
        case FaultSocketLayer::ReadResult::kNothing:
            return {};
        case FaultSocketLayer::ReadResult::kClosed:
            error = "The server closed the connection.";
            break;
        case FaultSocketLayer::ReadResult::kError:
            break;
    }
    std::string ignored;
    layer_->Close(ignored);
    connected_ = false;
    Raise("Error into \"recv\": " + Quoted(error));
}

std::string TFaultClientSocket::ReadReply() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    std::string reply;
    while (!ReplyComplete(reply)) {
        const std::string part = ReadAvailable();
        if (!part.empty()) {
            reply += part;
            transcript_ += part;
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            if (reply.empty()) {
                Raise("Socket timeout.");
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return reply;
}

std::string TFaultClientSocket::Exchange(std::string command, std::initializer_list<int> codes,
                                         bool secret) {
    if (command.size() < 2 || command.substr(command.size() - 2) != kCrLf) {
        command += kCrLf;
    }
    const bool whole = SendText(command);
    transcript_ += secret ? std::string("***\r\n") : command;
    if (!whole) {
        Raise(transcript_);
    }
    std::string reply = ReadReply();
    const int code = ReplyCode(reply);
    for (const int expected : codes) {
        if (code == expected) {
            return reply;
        }
    }
    Raise(transcript_);
}

void TFaultClientSMTP::Connect() {
    TFaultClientSocket::Connect();
    if (ReplyCode(ReadReply()) != 220) {
        Raise(Transcript());
    }
}

void TFaultClientSMTP::Greet(const std::string& user, const std::string& password) {
    const std::string local = Layer().LocalHostName();
    if (user.empty() && password.empty()) {
        Exchange("HELO " + local, {250});
        Exchange("RSET", {250});
        return;
    }
    const std::string features = Exchange("EHLO " + local, {250});
    // The credentials travel encrypted whenever the server can do so.
    if (!secure_ && OffersStartTls(features)) {
        Exchange("STARTTLS", {220});
        std::string error;
        if (!Layer().StartTls(host_, error)) {
            Raise("TLS error: " + Quoted(error));
        }
        secure_ = true;
        Exchange("EHLO " + local, {250});
    }
    Exchange("RSET", {250});
    // A server refuses a second login on the same connection.
    if (!authenticated_) {
        Exchange("AUTH LOGIN", {334});
        Exchange(EncodeBase64Lines(user), {334}, true);
        Exchange(EncodeBase64Lines(password), {235}, true);
        authenticated_ = true;
    }
}

std::vector<std::string> SplitRecipients(std::string_view text) {
    std::vector<std::string> recipients;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ',' || text[i] == ';') {
            const auto part = Trimmed(text.substr(start, i - start));
            if (!part.empty()) {
                recipients.emplace_back(part);
            }
            start = i + 1;
        }
    }
    return recipients;
}

std::string EncodeBase64Lines(std::string_view data) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t line = 0; line < data.size() || (line == 0 && data.empty()); line += 60) {
        const auto chunk = data.substr(line, 60);
        for (std::size_t i = 0; i < chunk.size(); i += 3) {
            const std::size_t n = std::min<std::size_t>(3, chunk.size() - i);
            std::uint32_t bits = 0;
            for (std::size_t k = 0; k < 3; ++k) {
                bits = (bits << 8) | (k < n ? static_cast<std::uint8_t>(chunk[i + k]) : 0);
            }
            for (std::size_t k = 0; k < 4; ++k) {
                out += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
            }
        }
        out += kCrLf;
    }
    return out;
}

FaultSmtpMessage BuildSmtpMessage(std::string_view body, const std::string& attachmentName,
                                  const std::string* attachmentText) {
    FaultSmtpMessage message;
    if (!attachmentText) {
        message.typeHeader = "Content-Type: text/plain;";
        message.bodyPart = std::string(body) + std::string(kCrLf);
        return message;
    }
    const std::string boundary(kBoundary);
    message.typeHeader =
        "Content-Type: multipart/mixed; boundary=\"" + boundary + "\";\r\nMIME-Version: 1.0";
    std::string attached;
    for (const auto line : SplitLines(*attachmentText)) {
        attached.append(line);
        attached += kCrLf;
    }
    const std::string name = Quoted(attachmentName);
    message.bodyPart = "This is a multi-part message in MIME format\r\n\r\n--" + boundary + "\r\n";
    message.bodyPart += "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    message.bodyPart.append(body);
    message.bodyPart += "\r\n\r\n--" + boundary + "\r\n";
    message.bodyPart += "Content-Type: application/octet-stream;\r\n        name=" + name + "\r\n";
    message.bodyPart += "Content-Transfer-Encoding: 8bit\r\nContent-Disposition: attachment;\r\n";
    message.bodyPart += "        filename=" + name + "\r\n\r\n";
    message.bodyPart += attached;
    message.bodyPart += "\r\n--" + boundary + "--\r\n";
    return message;
}

std::string BuildSmtpData(const std::string& recipient, std::string_view subject,
                          const FaultSmtpMessage& message) {
    const std::string text =
        "From: FaultLog <" + recipient + ">\r\nSubject: " + std::string(subject) + "\r\nTo: <" +
        recipient + ">\r\n" + message.typeHeader +
        "\r\nX-Priority: 1\r\nX-Library: FaultLog 4.2.4\r\n\r\n" + message.bodyPart;
    // A line that starts with "." gets another, so that no line of the report can end the
    // message early.
    std::string data;
    for (const auto line : SplitLines(text)) {
        if (!line.empty() && line[0] == '.') {
            data += '.';
        }
        data.append(line);
        data += kCrLf;
    }
    return data + ".";
}

bool SmtpSend(const FaultSmtpRequest& request, std::unique_ptr<FaultSocketLayer> layer,
              std::string& error) {
    try {
        const auto recipients = SplitRecipients(request.recipients);
        if (recipients.empty()) {
            error = "No recipients.";
            return false;
        }
        TFaultClientSMTP client(std::move(layer), request.host, request.timeoutMs, request.port);
        client.Connect();
        std::string attachment;
        bool attach = false;
        if (!request.attachmentPath.empty()) {
            std::ifstream in(Utf8Path(request.attachmentPath), std::ios::binary);
            if (in) {
                attachment.assign(std::istreambuf_iterator<char>(in), {});
                attach = true;
            }
        }
        const FaultSmtpMessage message = BuildSmtpMessage(
            request.body, FileNamePart(request.attachmentPath), attach ? &attachment : nullptr);
        for (const auto& recipient : recipients) {
            client.Greet(request.user, request.password);
            client.Exchange("MAIL FROM:<" + recipient + ">", {250});
            client.Exchange("RCPT TO:<" + recipient + ">", {250, 251});
            client.Exchange("DATA", {354});
            client.Exchange(BuildSmtpData(recipient, request.subject, message), {250});
        }
        client.Free();
        return true;
    } catch (const EFaultSocketError& e) {
        error = e.what();
        return false;
    }
}

}  // namespace packmeter
