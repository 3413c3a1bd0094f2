#include "platform/linux/exceptlog/fault_mail_linux.hpp"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace packmeter {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitFor(const fs::path& path, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!fs::exists(path)) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The test's SMTP server in a process of its own, stopped with the object.
class SmtpServer {
  public:
    SmtpServer(const std::string& mode, const fs::path& folder, const fs::path& certificate = {},
               const fs::path& key = {})
        : folder_(folder) {
        fs::create_directories(folder_);
        std::vector<std::string> arguments = {"/usr/bin/python3", FAULTLOG_SMTP_SERVER, mode,
                                              folder_.string()};
        if (!certificate.empty()) {
            arguments.insert(arguments.end(), {certificate.string(), key.string()});
        }
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        EXPECT_TRUE(WaitFor(folder_ / "port", std::chrono::seconds(20))) << mode;
        port_ = std::atoi(ReadText(folder_ / "port").c_str());
    }
    ~SmtpServer() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    int Port() const { return port_; }
    // The messages received so far, in order.
    std::vector<std::string> Messages() const {
        std::vector<std::string> messages;
        for (int i = 1; fs::exists(folder_ / ("message-" + std::to_string(i))); ++i) {
            messages.push_back(ReadText(folder_ / ("message-" + std::to_string(i))));
        }
        return messages;
    }

  private:
    fs::path folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

class RecordingMail : public FaultMailLinux {
  public:
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override {
        Warnings.push_back(FaultWarningLine(code, section, message));
    }
    std::vector<std::string> Warnings;
};

class FaultMailTest : public testing::Test {
  protected:
    FaultMailTest()
        : folder_(fs::temp_directory_path() / ("faultlog-mail-" + std::to_string(::getpid()))) {
        fs::create_directories(folder_);
        // The log file as the logger leaves it; a line starting with "." must survive SMTP.
        std::ofstream(folder_ / "tool.flog", std::ios::binary)
            << "Application...\r\n  Name: tool\r\n.hidden dot line\r\n\r\n\r\n\r\n";
        options_.ModuleFileName = (folder_ / "tool").string();
        options_.EmailAddresses = "first@example.org; second@example.org,";
        options_.EmailSubject = "Crash in tool";
        options_.EmailMessage = "Please look.";
        options_.EmailSendMode = 2;
    }
    ~FaultMailTest() override { fs::remove_all(folder_); }

    // A certificate for localhost and 127.0.0.1 that only the test trusts.
    void MakeCertificate() {
        const std::string command =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -addext "
            "subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
            (folder_ / "key.pem").string() + " -out " + (folder_ / "cert.pem").string() +
            " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    fs::path folder_;
    TFaultModuleOptions options_;
};

TEST_F(FaultMailTest, SmtpDeliversTheReportToEveryRecipient) {
    MakeCertificate();
    const struct {
        const char* mode;
        const char* user;
        const char* password;
        bool appendLog;
        const char* tls;
    } cases[] = {
        {"plain", "", "", false, "no"},
        {"auth", "user", "secret", true, "no"},
        // The server asks for TLS before the login; the client switches when it is offered.
        {"starttls", "user", "secret", false, "yes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        SmtpServer server(c.mode, folder_ / c.mode, folder_ / "cert.pem", folder_ / "key.pem");
        options_.SmtpHost = std::string(c.tls[0] == 'y' ? "localhost:" : "127.0.0.1:") +
                            std::to_string(server.Port());
        options_.SmtpUserId = c.user;
        options_.SmtpPassword = c.password;
        options_.AppendLogToBody = c.appendLog;
        ::setenv("SSL_CERT_FILE", (folder_ / "cert.pem").c_str(), 1);
        RecordingMail mail;
        EXPECT_TRUE(SendReport(options_, "the report", mail, 5000));
        ::unsetenv("SSL_CERT_FILE");
        EXPECT_EQ(mail.Warnings, std::vector<std::string>{});

        const auto messages = server.Messages();
        ASSERT_EQ(messages.size(), 2u);
        for (int i = 0; i < 2; ++i) {
            const std::string address = i == 0 ? "first@example.org" : "second@example.org";
            const std::string& m = messages[i];
            EXPECT_EQ(m.substr(0, m.find("\n\n")), "FROM " + address + "\nTO " + address +
                                                       "\nTLS " + c.tls + "\nLOGIN " + c.user);
            EXPECT_NE(m.find("From: FaultLog <" + address + ">\r\n"), std::string::npos);
            EXPECT_NE(m.find("To: <" + address + ">\r\n"), std::string::npos);
            EXPECT_NE(m.find("Subject: Crash in tool\r\n"), std::string::npos);
            EXPECT_NE(m.find("X-Library: FaultLog 4.2.4\r\n"), std::string::npos);
            EXPECT_NE(m.find("Please look."), std::string::npos);
            // The log file travels whole: attached, or after the message in the body.
            EXPECT_NE(m.find("  Name: tool\r\n.hidden dot line\r\n"), std::string::npos) << m;
            EXPECT_EQ(m.find("filename=\"tool.flog\"") != std::string::npos, !c.appendLog) << m;
            EXPECT_EQ(m.find("multipart/mixed") != std::string::npos, !c.appendLog);
        }
    }
}

// A port on which nothing listens.
int UnusedPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    return ntohs(address.sin_port);
}

TEST_F(FaultMailTest, AFailingServerGivesAWarningWithinTheTimeOut) {
    MakeCertificate();
    const struct {
        const char* mode;
        const char* password;
        const char* warning;  // after "[SMTP] "
    } cases[] = {
        {"refuse", "", "Connected to 127.0.0.1 port %d\r\n554 No service here\r\n"},
        {"close", "", "Error into \"recv\": \"The server closed the connection.\""},
        {"silent", "", "Socket timeout."},
        {"none", "", "Connection error: \"Connection refused\""},
        {"auth", "wrong", "535 5.7.8 Authentication credentials invalid"},
        // A certificate nobody trusts: no credentials are sent.
        {"starttls", "secret", "TLS error: \"self-signed certificate\""},
    };
    constexpr int kTimeoutMs = 2000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        std::unique_ptr<SmtpServer> server;
        int port = UnusedPort();
        if (std::string(c.mode) != "none") {
            server = std::make_unique<SmtpServer>(c.mode, folder_ / c.mode, folder_ / "cert.pem",
                                                  folder_ / "key.pem");
            port = server->Port();
        }
        options_.SmtpHost = "127.0.0.1:" + std::to_string(port);
        options_.SmtpUserId = c.password[0] ? "user" : "";
        options_.SmtpPassword = c.password;
        RecordingMail mail;
        const auto start = Clock::now();
        EXPECT_FALSE(SendReport(options_, "the report", mail, kTimeoutMs));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs + 1500));
        ASSERT_EQ(mail.Warnings.size(), 1u);
        char expected[256];
        std::snprintf(expected, sizeof expected, c.warning, port);
        EXPECT_EQ(
            mail.Warnings[0].rfind("[WARNING] - Code: flEmailSMTPError - Message: \"[SMTP] ", 0),
            0u)
            << mail.Warnings[0];
        EXPECT_NE(mail.Warnings[0].find(expected), std::string::npos) << mail.Warnings[0];
        if (server) {
            EXPECT_EQ(server->Messages().size(), 0u);
        }
    }
}

TEST_F(FaultMailTest, WithoutAServerTheMailClientGetsTheMessage) {
    // Stand-ins for the desktop's programs that record their arguments, one a line.
    const fs::path bin = folder_ / "bin";
    fs::create_directories(bin);
    for (const char* program : {"xdg-email", "xdg-open"}) {
        std::ofstream(bin / program)
            << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
               "done > \""
            << (folder_ / program).string() << ".args\"\nexit ${XDG_EMAIL_EXIT:-0}\n";
        fs::permissions(bin / program, fs::perms::owner_all);
    }
    const std::string path = ::getenv("PATH");
    options_.EmailMessage = "Fish & chips";
    const struct {
        const char* path;
        const char* emailExit;
        bool sent;
        std::vector<std::string> warnings;
        const char* emailArguments;
        const char* openArguments;
    } cases[] = {
        {"stand-ins",
         "0",
         true,
         {},
         "--utf8\n--subject\nCrash in tool\n--body\nFish & chips\n--attach\n%s/tool.flog\n"
         "first@example.org\nsecond@example.org\n",
         nullptr},
        // The mail program refuses: the mailto address opens the user's mail client instead,
        // without "&" in the body and with the report after it.
        {"stand-ins",
         "3",
         true,
         {"[WARNING] - Code: flEmailMAPIError - Message: \"[MAPI] xdg-email ended with exit code "
          "3.\""},
         nullptr,
         "mailto:first@example.org,second@example.org?Subject=Crash%%20in%%20tool&Body=Fish%%20%%"
         "20chips%%0D%%0A%%0D%%0A%%0D%%0Athe%%20report\n"},
        {"empty",
         "0",
         false,
         {"[WARNING] - Code: flEmailMAPIError - Message: \"[MAPI] Cannot start xdg-email: \"No "
          "such file or directory\".\"",
          "[WARNING] - Code: flEmailShellError - Message: \"[Shell] Cannot start xdg-open: \"No "
          "such file or directory\".\""},
         nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.emailExit);
        fs::remove(folder_ / "xdg-email.args");
        fs::remove(folder_ / "xdg-open.args");
        ::setenv("PATH", std::string(c.path)[0] == 's' ? bin.c_str() : "/nonexistent", 1);
        ::setenv("XDG_EMAIL_EXIT", c.emailExit, 1);
        RecordingMail mail;
        const bool sent = SendReport(options_, "the report", mail);
        ::setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(sent, c.sent);
        EXPECT_EQ(mail.Warnings, c.warnings);
        char expected[1024];
        if (c.emailArguments) {
            std::snprintf(expected, sizeof expected, c.emailArguments, folder_.c_str());
            EXPECT_EQ(ReadText(folder_ / "xdg-email.args"), expected);
        }
        if (c.openArguments) {
            // xdg-open is not waited for.
            ASSERT_TRUE(WaitFor(folder_ / "xdg-open.args", std::chrono::seconds(10)));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::snprintf(expected, sizeof expected, c.openArguments);
            EXPECT_EQ(ReadText(folder_ / "xdg-open.args"), expected);
        } else {
            EXPECT_FALSE(fs::exists(folder_ / "xdg-open.args"));
        }
    }
    ::unsetenv("XDG_EMAIL_EXIT");
}

TEST_F(FaultMailTest, ACrashedProgramMailsItsReport) {
    // Mode 2 mails every report; mode 1 once, as the program ends. A login the server refuses
    // leaves a warning that names no credential, in any form, anywhere.
    MakeCertificate();
    const struct {
        const char* mode;
        const char* server;
        const char* login;  // "user password", or empty
        std::size_t messages;
    } cases[] = {
        {"2", "plain", "", 1},
        {"1", "plain", "", 1},
        {"2", "auth", "user hunter2", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.server);
        const fs::path run = folder_ / ("crash-mode-" + std::string(c.mode) + c.server);
        SmtpServer server(c.server, run / "server");
        const fs::path options = run / "options.txt";
        std::ofstream out(options);
        out << "EmailSendMode=" << c.mode << "\nSmtpHost=127.0.0.1:" << server.Port()
            << "\nEmailAddresses=dev@example.org\nEmailSubject=Crash\n";
        const std::string login = c.login;
        if (!login.empty()) {
            out << "SmtpUserId=" << login.substr(0, login.find(' '))
                << "\nSmtpPassword=" << login.substr(login.find(' ') + 1) << "\n";
        }
        out.close();
        const fs::path program = run / "crash";
        ASSERT_EQ(std::system((std::string(FAULTLOG_INSTRUMENT) + " " + FAULTLOG_CRASH_PROGRAM +
                               " " + options.string() + " " + program.string())
                                  .c_str()),
                  0);
        const std::string command =
            program.string() + " null-debug >/dev/null 2>" + (run / "stderr").string();
        EXPECT_NE(std::system(command.c_str()), 0);
        const auto messages = server.Messages();
        const std::string errors = ReadText(run / "stderr");
        ASSERT_EQ(messages.size(), c.messages) << errors;
        if (c.messages) {
            EXPECT_NE(messages[0].find("Subject: Crash\r\n"), std::string::npos);
            EXPECT_NE(messages[0].find("filename=\"crash.flog\""), std::string::npos);
            EXPECT_NE(messages[0].find("  Type   : EAccessViolation\r\n"), std::string::npos)
                << messages[0];
            EXPECT_EQ(errors.find("WARNING"), std::string::npos);
            continue;
        }
        EXPECT_NE(errors.find("AUTH LOGIN\r\n334 VXNlciBOYW1lAA==\r\n***\r\n"), std::string::npos)
            << errors;
        const std::string trace = ReadText(run / "crash.log");
        EXPECT_NE(trace.find("535"), std::string::npos) << trace;
        for (const std::string& text : {errors, trace, ReadText(run / "crash.flog")}) {
            for (const char* secret : {"hunter2", "aHVudGVyMg==", "dXNlcg=="}) {
                EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in\n" << text;
            }
        }
    }
}

}  // namespace
}  // namespace packmeter
