#include "core/exceptlog/fault_email.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>

#include "core/exceptlog/fault_smtp.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

// A server that answers every command as a willing SMTP server would, its replies of several
// lines arriving in pieces; `refuse` names a command it answers with 550.
class ScriptedServer : public FaultSocketLayer {
  public:
    ScriptedServer(std::vector<std::string>& commands, std::string refuse)
        : commands_(commands), refuse_(std::move(refuse)) {}

    bool Startup(std::string&) override { return true; }
    bool Cleanup(std::string&) override { return true; }
    bool Open() override { return open_ = true; }
    FaultIpAddress Resolve(const std::string&) override { return {10, 0, 0, 1}; }
    bool Connect(const FaultIpAddress&, int, int, std::string&) override {
        replies_.push_back("220 ready\r\n");
        return true;
    }
    bool IsOpen() const override { return open_; }
    bool Close(std::string&) override {
        open_ = false;
        return true;
    }
    long Send(std::string_view data, std::string&) override {
        const std::string command(data.substr(0, data.find("\r\n")));
        commands_.push_back(command);
        const auto starts = [&](std::string_view word) { return command.rfind(word, 0) == 0; };
        if (!refuse_.empty() && starts(refuse_)) {
            replies_.push_back("550 no\r\n");
        } else if (starts("EHLO") || starts("HELO")) {
            replies_.push_back("250-mail.test\r\n");
            replies_.push_back("250 AUTH LOGIN\r\n");
        } else if (starts("AUTH") || command == "dXNlcg==") {
            replies_.push_back("334 go on\r\n");
        } else if (command == "c2VjcmV0") {
            replies_.push_back("235 welcome\r\n");
        } else if (starts("DATA")) {
            replies_.push_back("354 go ahead\r\n");
        } else {
            replies_.push_back("250 OK\r\n");
        }
        return static_cast<long>(data.size());
    }
    ReadResult Read(std::string& data, std::string&) override {
        if (replies_.empty()) {
            return ReadResult::kNothing;
        }
        data = replies_.front();
        replies_.pop_front();
        return ReadResult::kData;
    }
    bool StartTls(const std::string&, std::string&) override { return false; }
    std::string LocalHostName() override { return "desk"; }

  private:
    std::vector<std::string>& commands_;
    std::string refuse_;
    std::deque<std::string> replies_;
    bool open_ = false;
};

TEST(FaultSmtpTest, EveryRecipientGetsItsOwnRunOfCommandsOnOneConnection) {
    const struct {
        const char* user;
        const char* password;
        const char* refuse;
        std::vector<std::string> commands;
    } cases[] = {
        {"",
         "",
         "",
         {"HELO desk", "RSET", "MAIL FROM:<a@x.org>", "RCPT TO:<a@x.org>", "DATA",
          "From: FaultLog <a@x.org>", "HELO desk", "RSET", "MAIL FROM:<b@x.org>",
          "RCPT TO:<b@x.org>", "DATA", "From: FaultLog <b@x.org>"}},
        // The server would refuse a second login on the connection.
        {"user",
         "secret",
         "",
         {"EHLO desk", "RSET", "AUTH LOGIN", "dXNlcg==", "c2VjcmV0", "MAIL FROM:<a@x.org>",
          "RCPT TO:<a@x.org>", "DATA", "From: FaultLog <a@x.org>", "EHLO desk", "RSET",
          "MAIL FROM:<b@x.org>", "RCPT TO:<b@x.org>", "DATA", "From: FaultLog <b@x.org>"}},
        {"", "", "RCPT", {"HELO desk", "RSET", "MAIL FROM:<a@x.org>", "RCPT TO:<a@x.org>"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user + std::string(c.refuse));
        std::vector<std::string> commands;
        FaultSmtpRequest request;
        request.host = "mail.test";
        request.user = c.user;
        request.password = c.password;
        request.recipients = " a@x.org; b@x.org,";
        request.subject = "Crash";
        request.body = "Look.";
        std::string error;
        const bool sent =
            SmtpSend(request, std::make_unique<ScriptedServer>(commands, c.refuse), error);
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(sent, c.refuse[0] == '\0');
        if (!sent) {
            // The whole transcript, from the connection on.
            EXPECT_EQ(error,
                      "Connected to 10.0.0.1 port 25\r\n220 ready\r\nHELO desk\r\n250-mail.test\r\n"
                      "250 AUTH LOGIN\r\nRSET\r\n250 OK\r\nMAIL FROM:<a@x.org>\r\n250 OK\r\n"
                      "RCPT TO:<a@x.org>\r\n550 no\r\n");
        }
    }
}

TEST(FaultSmtpTest, TheMessageCarriesTheLogFileUnencoded) {
    const std::string log = "Application...\r\n.dot\nlast";
    EXPECT_EQ(BuildSmtpData("a@x.org", "Crash", BuildSmtpMessage("Look.", "tool.flog", &log)),
              "From: FaultLog <a@x.org>\r\n"
              "Subject: Crash\r\n"
              "To: <a@x.org>\r\n"
              "Content-Type: multipart/mixed; boundary=\"=_xcjvnxkbhvfkxzhfdbvzldjhfv\";\r\n"
              "MIME-Version: 1.0\r\n"
              "X-Priority: 1\r\n"
              "X-Library: FaultLog 4.2.4\r\n"
              "\r\n"
              "This is a multi-part message in MIME format\r\n"
              "\r\n"
              "--=_xcjvnxkbhvfkxzhfdbvzldjhfv\r\n"
              "Content-Type: text/plain\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "Look.\r\n"
              "\r\n"
              "--=_xcjvnxkbhvfkxzhfdbvzldjhfv\r\n"
              "Content-Type: application/octet-stream;\r\n"
              "        name=\"tool.flog\"\r\n"
              "Content-Transfer-Encoding: 8bit\r\n"
              "Content-Disposition: attachment;\r\n"
              "        filename=\"tool.flog\"\r\n"
              "\r\n"
              "Application...\r\n"
              "..dot\r\n"
              "last\r\n"
              "\r\n"
              "--=_xcjvnxkbhvfkxzhfdbvzldjhfv--\r\n"
              ".");
    EXPECT_EQ(BuildSmtpData("a@x.org", "Crash", BuildSmtpMessage("Look.", "", nullptr)),
              "From: FaultLog <a@x.org>\r\nSubject: Crash\r\nTo: <a@x.org>\r\n"
              "Content-Type: text/plain;\r\nX-Priority: 1\r\nX-Library: FaultLog 4.2.4\r\n\r\n"
              "Look.\r\n.");
}

TEST(FaultSmtpTest, Encodings) {
    EXPECT_EQ(SplitRecipients(" a@x.org ;b@x.org,, c@x.org,"),
              (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org"}));
    EXPECT_EQ(EncodeBase64Lines("user"), "dXNlcg==\r\n");
    EXPECT_EQ(EncodeBase64Lines("secret"), "c2VjcmV0\r\n");
    // 60 bytes to a line.
    std::string line;
    for (int i = 0; i < 20; ++i) {
        line += "YWFh";
    }
    EXPECT_EQ(EncodeBase64Lines(std::string(61, 'a')), line + "\r\nYQ==\r\n");
    EXPECT_EQ(BuildMailtoUrl("a@x.org; b@x.org", "Crash now", "A&B\r\n"),
              "mailto:a@x.org,b@x.org?Subject=Crash%20now&Body=A%26B%0D%0A");
}

class RecordingMailPlatform : public FaultMailPlatform {
  public:
    bool ActionNotify(int code) override {
        calls.push_back("notify " + std::to_string(code));
        return code != 4 || allowed;
    }
    bool ActionError(int code) override {
        calls.push_back("error " + std::to_string(code));
        return retries-- > 0;
    }
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override {
        calls.push_back(FaultWarningLine(code, section, message));
    }
    bool Ask(const std::string& caption, const std::string& text) override {
        calls.push_back("ask " + caption + " " + text);
        if (answers.empty()) {
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void Inform(const std::string& caption, const std::string& text) override {
        calls.push_back("inform " + caption + " " + text);
    }
    std::unique_ptr<FaultSocketLayer> CreateSocketLayer() override { return nullptr; }
    bool MapiSend(const std::string& recipients, const std::string& subject,
                  const std::string& body, const std::string& attachmentPath,
                  std::string& error) override {
        calls.push_back("mapi " + recipients + "|" + subject + "|" + body + "|" +
                        fs::path(attachmentPath).filename().string());
        error = "no mail program";
        return mapi;
    }
    bool ShellSend(const std::string& url, std::string& error) override {
        calls.push_back("shell " + url);
        error = "no shell";
        return shell;
    }

    bool allowed = true;
    int retries = 0;
    // Ask's answers in turn (1 for Yes); No after the last.
    std::deque<int> answers;
    bool mapi = true;
    bool shell = true;
    std::vector<std::string> calls;
};

TEST(FaultEmailTest, SendReportAsksRetriesAndFallsBack) {
    const fs::path folder = fs::temp_directory_path() / "faultlog-email-send";
    fs::create_directories(folder);
    std::ofstream(folder / "tool.flog", std::ios::binary) << "LOG";
    const std::string ask =
        "ask Question. May I send an email with occurred error(s) to the author of the program ?";
    const std::string mapi = "mapi a@x.org|Crash|Look & see|tool.flog";
    const struct {
        const char* name;
        int confirm;
        bool allowed;
        int retries;
        std::deque<int> answers;
        bool mapi;
        bool shell;
        bool append;
        bool sent;
        std::vector<std::string> calls;
    } cases[] = {
        {"silent", 2, true, 0, {}, true, true, false, true, {"notify 4", mapi, "notify 5"}},
        {"hook says no", 2, false, 0, {}, true, true, false, false, {"notify 4"}},
        {"log in the body",
         2,
         true,
         0,
         {},
         true,
         true,
         true,
         true,
         {"notify 4", "mapi a@x.org|Crash|Look & see\r\n\r\n\r\nLOG|", "notify 5"}},
        {"inform",
         1,
         true,
         0,
         {},
         true,
         true,
         false,
         true,
         {"notify 4",
          "inform Information. I will now send an email with the error(s) that occurred to the "
          "author of the program.",
          mapi, "notify 5"}},
        {"declined",
         0,
         true,
         0,
         {},
         true,
         true,
         false,
         false,
         {"notify 4", ask, "error 5", "notify 5"}},
        {"declined, retried, accepted",
         0,
         true,
         1,
         {0, 1},
         true,
         true,
         false,
         true,
         {"notify 4", ask, "error 5", ask, mapi, "notify 5"}},
        {"shell",
         2,
         true,
         0,
         {},
         false,
         true,
         false,
         true,
         {"notify 4", mapi,
          "[WARNING] - Code: flEmailMAPIError - Message: \"[MAPI] no mail program\"",
          "shell mailto:a@x.org?Subject=Crash&Body=Look%20%20see%0D%0A%0D%0A%0D%0Areport",
          "notify 5"}},
        {"nothing works",
         2,
         true,
         0,
         {},
         false,
         false,
         false,
         false,
         {"notify 4", mapi,
          "[WARNING] - Code: flEmailMAPIError - Message: \"[MAPI] no mail program\"",
          "shell mailto:a@x.org?Subject=Crash&Body=Look%20%20see%0D%0A%0D%0A%0D%0Areport",
          "[WARNING] - Code: flEmailShellError - Message: \"[Shell] no shell\"", "error 5",
          "notify 5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFaultModuleOptions options((folder / "tool").string());
        options.EmailAddresses = "a@x.org";
        options.EmailSubject = "Crash";
        options.EmailMessage = "Look & see";
        options.EmailConfirmMode = static_cast<std::uint8_t>(c.confirm);
        options.AppendLogToBody = c.append;
        RecordingMailPlatform platform;
        platform.allowed = c.allowed;
        platform.retries = c.retries;
        platform.answers = c.answers;
        platform.mapi = c.mapi;
        platform.shell = c.shell;
        EXPECT_EQ(SendReport(options, "report", platform), c.sent);
        EXPECT_EQ(platform.calls, c.calls);
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace packmeter
