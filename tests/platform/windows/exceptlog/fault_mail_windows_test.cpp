#include "platform/windows/exceptlog/fault_mail_windows.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace packmeter {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The running test's folder as the host names it (host programs work there) and as Wine names
// it; each test has its own, since the tests run at the same time.
std::string HostFolder() {
    return std::string(FAULTLOG_MAIL_FOLDER) + "/" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
}
fs::path Folder() {
    return fs::path("Z:" + HostFolder());
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts a host command through the host's shell, which Wine runs like any other program, with
// its output discarded; its process handle, which does not tell when the command ends.
HANDLE StartHostCommand(const std::string& shellCommand) {
    std::wstring command = FaultWide("Z:\\bin\\sh -c \"(" + shellCommand + ") >/dev/null 2>&1\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process))
        << shellCommand;
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

// A certificate for 127.0.0.1 that only the test may trust, made once.
void MakeCertificate() {
    if (fs::exists(Folder() / "cert.pem")) {
        return;
    }
    const HANDLE openssl = StartHostCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost "
        "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
        HostFolder() + "/key.pem -out " + HostFolder() + "/cert.tmp && mv " + HostFolder() +
        "/cert.tmp " + HostFolder() + "/cert.pem");
    ::CloseHandle(openssl);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!fs::exists(Folder() / "cert.pem") && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// The test's SMTP server.
class SmtpServer {
  public:
    explicit SmtpServer(const std::string& mode) : folder_(Folder() / mode) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        MakeCertificate();
        process_ = StartHostCommand("/usr/bin/python3 " FAULTLOG_SMTP_SERVER " " + mode + " " +
                                    HostFolder() + "/" + mode + " " + HostFolder() + "/cert.pem " +
                                    HostFolder() + "/key.pem");
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!fs::exists(folder_ / "port") && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        port_ = std::atoi(ReadText(folder_ / "port").c_str());
        EXPECT_NE(port_, 0) << mode;
    }
    ~SmtpServer() {
        std::ofstream(folder_ / "stop");
        ::WaitForSingleObject(process_, 10000);
        ::CloseHandle(process_);
    }

    int Port() const { return port_; }
    std::vector<std::string> Messages() const {
        std::vector<std::string> messages;
        for (int i = 1; fs::exists(folder_ / ("message-" + std::to_string(i))); ++i) {
            messages.push_back(ReadText(folder_ / ("message-" + std::to_string(i))));
        }
        return messages;
    }

  private:
    fs::path folder_;
    HANDLE process_ = nullptr;
    int port_ = 0;
};

class RecordingMail : public FaultMailWindows {
  public:
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override {
        Warnings.push_back(FaultWarningLine(code, section, message));
    }
    std::vector<std::string> Warnings;
};

class FaultMailWindowsTest : public testing::Test {
  protected:
    FaultMailWindowsTest() {
        fs::remove_all(Folder());
        fs::create_directories(Folder());
        std::ofstream(Folder() / "tool.flog", std::ios::binary)
            << "Application...\r\n  Name: tool\r\n\r\n\r\n\r\n";
        options_.ModuleFileName = (Folder() / "tool").string();
        options_.EmailAddresses = "first@example.org; second@example.org";
        options_.EmailSubject = "Crash in tool";
        options_.EmailMessage = "Please look.";
        options_.EmailSendMode = 2;
    }

    TFaultModuleOptions options_;
};

TEST_F(FaultMailWindowsTest, WinsockDeliversTheReportToEveryRecipient) {
    for (const std::string mode : {"plain", "auth"}) {
        SCOPED_TRACE(mode);
        SmtpServer server(mode);
        const bool login = mode != "plain";
        options_.SmtpHost = "127.0.0.1:" + std::to_string(server.Port());
        options_.SmtpUserId = login ? "user" : "";
        options_.SmtpPassword = login ? "secret" : "";
        RecordingMail mail;
        EXPECT_TRUE(SendReport(options_, "the report", mail, 5000));
        EXPECT_EQ(mail.Warnings, std::vector<std::string>{});
        const auto messages = server.Messages();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[1].substr(0, messages[1].find("\n\n")),
                  std::string("FROM second@example.org\nTO second@example.org\nTLS no\nLOGIN ") +
                      (login ? "user" : ""));
        EXPECT_NE(messages[1].find("Subject: Crash in tool\r\n"), std::string::npos);
        EXPECT_NE(messages[1].find("filename=\"tool.flog\"\r\n\r\nApplication...\r\n  Name: tool"),
                  std::string::npos);
    }
}

TEST_F(FaultMailWindowsTest, AFailingServerGivesAWarningWithinTheTimeOut) {
    const struct {
        const char* mode;
        const char* warning;
    } cases[] = {
        {"refuse", "554 No service here"},
        {"close", "Error into \"recv\": \"The server closed the connection.\""},
        {"silent", "Socket timeout."},
        // Schannel's handshake reaches the certificate check, which fails for a certificate
        // nobody trusts: the login is not sent. (Wine's trusted roots are the host's, which a
        // test cannot add to, so a trusted TLS delivery is not tested here.)
        {"starttls", "TLS error: \""},
    };
    constexpr int kTimeoutMs = 2000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        SmtpServer server(c.mode);
        options_.SmtpHost = "127.0.0.1:" + std::to_string(server.Port());
        options_.SmtpUserId = "user";
        options_.SmtpPassword = "secret";
        RecordingMail mail;
        const auto start = Clock::now();
        EXPECT_FALSE(SendReport(options_, "the report", mail, kTimeoutMs));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs + 1500));
        ASSERT_EQ(mail.Warnings.size(), 1u);
        EXPECT_NE(mail.Warnings[0].find("[WARNING] - Code: flEmailSMTPError - Message: \"[SMTP] "),
                  std::string::npos);
        EXPECT_NE(mail.Warnings[0].find(c.warning), std::string::npos) << mail.Warnings[0];
    }
}

// A registry value set for as long as the object lives; the earlier value comes back after.
class RegistryValue {
  public:
    RegistryValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type,
                  const std::wstring& value)
        : root_(root), key_(key), name_(name ? name : L"") {
        DWORD size = 0;
        had_ = ::RegGetValueW(root_, key_.c_str(), Name(), RRF_RT_ANY | RRF_NOEXPAND, &oldType_,
                              nullptr, &size) == ERROR_SUCCESS;
        if (had_) {
            old_.resize(size);
            ::RegGetValueW(root_, key_.c_str(), Name(), RRF_RT_ANY | RRF_NOEXPAND, &oldType_,
                           old_.data(), &size);
        }
        EXPECT_EQ(::RegSetKeyValueW(root_, key_.c_str(), Name(), type, value.c_str(),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~RegistryValue() {
        if (had_) {
            ::RegSetKeyValueW(root_, key_.c_str(), Name(), oldType_, old_.data(),
                              static_cast<DWORD>(old_.size()));
        } else {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(root_, key_.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                ::RegDeleteValueW(key, Name());
                ::RegCloseKey(key);
            }
        }
    }

  private:
    const wchar_t* Name() const { return name_.empty() ? nullptr : name_.c_str(); }
    HKEY root_;
    std::wstring key_;
    std::wstring name_;
    bool had_ = false;
    DWORD oldType_ = 0;
    std::vector<BYTE> old_;
};

TEST_F(FaultMailWindowsTest, WhenTheMailInterfaceFailsTheMailtoHandlerGetsTheMessage) {
    // The default mail program names, through an environment variable, a library without the
    // mail interface; the "mailto:" handler is a host script that records its argument.
    const RegistryValue client(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\Mail", nullptr, REG_SZ,
                               L"Stand-in");
    const RegistryValue library(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\Mail\\Stand-in",
                                L"DLLPath", REG_EXPAND_SZ, L"%SystemRoot%\\system32\\kernel32.dll");
    const std::string record = HostFolder() + "/mailto";
    std::ofstream(Folder() / "record.sh", std::ios::binary)
        << "printf '%s' \"$1\" > " << record << ".part && mv " << record << ".part " << record
        << "\n";
    const RegistryValue handler(HKEY_CLASSES_ROOT, L"mailto\\shell\\open\\command", nullptr, REG_SZ,
                                FaultWide("Z:\\bin\\sh " + HostFolder() + "/record.sh \"%1\""));
    options_.EmailMessage = "Fish & chips";
    RecordingMail mail;
    EXPECT_TRUE(SendReport(options_, "the report", mail));
    EXPECT_EQ(mail.Warnings, std::vector<std::string>{"[WARNING] - Code: flEmailMAPIError - "
                                                      "Message: \"[MAPI] Cannot found the MAPI "
                                                      "functions.\""});
    // The handler is not waited for.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!fs::exists(Folder() / "mailto") && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(ReadText(Folder() / "mailto"),
              "mailto:first@example.org,second@example.org?Subject=Crash%20in%20tool&Body=Fish%20%"
              "20chips%0D%0A%0D%0A%0D%0Athe%20report");
}

#ifdef FAULTLOG_INSTRUMENT_TOOL
TEST_F(FaultMailWindowsTest, ACrashedProgramMailsItsReport) {
    SmtpServer server("plain");
    std::ofstream(Folder() / "options.txt", std::ios::binary)
        << "EmailSendMode=2\nSmtpHost=127.0.0.1:" << server.Port()
        << "\nEmailAddresses=dev@example.org\nEmailSubject=Crash\n";
    // Wine does not tell when a host program has ended: the copy appears under its name whole.
    const HANDLE tool =
        StartHostCommand(std::string(FAULTLOG_INSTRUMENT_TOOL) + " " + FAULTLOG_CRASH_PROGRAM_HOST +
                         " " + HostFolder() + "/options.txt " + HostFolder() + "/crash.tmp && mv " +
                         HostFolder() + "/crash.tmp " + HostFolder() + "/crash.exe");
    ::CloseHandle(tool);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!fs::exists(Folder() / "crash.exe") && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const std::wstring program = (Folder() / "crash.exe").wstring();
    std::wstring command = L"crash.exe null";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE discard =
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = discard;
    startup.hStdError = discard;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, nullptr, &startup, &process));
    ::CloseHandle(discard);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 1u);

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Subject: Crash\r\n"), std::string::npos);
    EXPECT_NE(messages[0].find("filename=\"crash.flog\""), std::string::npos);
    EXPECT_NE(messages[0].find("EAccessViolation"), std::string::npos) << messages[0];
}
#endif

}  // namespace
}  // namespace packmeter
