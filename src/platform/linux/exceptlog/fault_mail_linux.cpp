#include "platform/linux/exceptlog/fault_mail_linux.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_smtp.hpp"
#include "core/exceptlog/fault_trace.hpp"

extern char** environ;

namespace packmeter {

namespace {

// How long xdg-email may take to hand the message over before it counts as done.
constexpr auto kMailClientWait = std::chrono::seconds(10);

// Starts a program found on PATH; its pid, or -1 with the error text.
pid_t Start(const std::vector<std::string>& arguments, std::string& error) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (const int failure = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ)) {
        error = "Cannot start " + arguments[0] + ": \"" + std::strerror(failure) + "\".";
        return -1;
    }
    return pid;
}

}  // namespace

bool FaultMailLinux::Ask(const std::string& caption, const std::string& text) {
    if (bool yes = false; AskInFaultWindow(caption, text, yes)) {
        return yes;
    }
    if (!::isatty(STDIN_FILENO)) {
        return false;
    }
    std::cerr << caption << ' ' << text << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

void FaultMailLinux::Inform(const std::string& caption, const std::string& text) {
    if (InformInFaultWindow(caption, text)) {
        return;
    }
    std::cerr << caption << ' ' << text << '\n';
}

bool FaultMailLinux::MapiSend(const std::string& recipients, const std::string& subject,
                              const std::string& body, const std::string& attachmentPath,
                              std::string& error) {
    std::vector<std::string> arguments = {"xdg-email", "--utf8", "--subject",
                                          subject,     "--body", body};
    if (!attachmentPath.empty()) {
        arguments.insert(arguments.end(), {"--attach", attachmentPath});
    }
    for (const auto& recipient : SplitRecipients(recipients)) {
        arguments.push_back(recipient);
    }
    const pid_t pid = Start(arguments, error);
    if (pid < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kMailClientWait;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            break;
        }
        if (ended < 0 && errno != EINTR) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // Still busy with the mail program: the message has been handed over. A thread
            // of its own collects the process when it ends.
            std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    error = WIFEXITED(status)
                ? "xdg-email ended with exit code " + std::to_string(WEXITSTATUS(status)) + "."
                : "xdg-email was ended by signal " + std::to_string(WTERMSIG(status)) + ".";
    return false;
}

bool FaultMailLinux::ShellSend(const std::string& mailtoUrl, std::string& error) {
    const pid_t pid = Start({"xdg-open", mailtoUrl}, error);
    if (pid < 0) {
        return false;
    }
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

void FaultMailLinux::Warning(TFaultLogErrorCode code, std::string_view section,
                             std::string_view message) {
    const std::string line = FaultWarningLine(code, section, message);
    std::cerr << line << '\n';
    FaultTrace().Note(line);
}

}  // namespace packmeter
