#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "cli/cli_main.hpp"
#include "platform/fault_logger.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace {

// A console gets the text as UTF-16 through WriteConsoleW, whatever its code page; a pipe or a
// file gets the UTF-8 bytes (a file with CR LF line ends).
class WindowsTerminal final : public packmeter::cli::Terminal {
  public:
    WindowsTerminal()
        : out_(::GetStdHandle(STD_OUTPUT_HANDLE)), err_(::GetStdHandle(STD_ERROR_HANDLE)) {
        // The progress line redraws itself with escape sequences, which a console understands
        // only with virtual terminal processing (Windows 10 and later); without it, no progress.
        DWORD mode = 0;
        errInteractive_ = ::GetConsoleMode(err_, &mode) &&
                          ::SetConsoleMode(err_, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }

    bool Out(const std::string& text) override {
        if (Write(out_, ::GetFileType(out_) == FILE_TYPE_DISK ? WindowsLines(text) : text)) {
            return true;
        }
        outError_ = packmeter::win::ToUtf8(SystemMessage(::GetLastError()));
        return false;
    }
    std::string OutError() const override { return outError_; }
    void Err(const std::string& text) override { Write(err_, text); }
    bool ErrIsInteractive() const override { return errInteractive_; }

  private:
    // A file written on Windows ends its lines with CR LF, as the system's editors expect; a
    // pipe gets the lines as they are.
    static std::string WindowsLines(const std::string& text) {
        std::string lines;
        lines.reserve(text.size() + text.size() / 16);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
                lines += '\r';
            }
            lines += text[i];
        }
        return lines;
    }

    static std::wstring SystemMessage(DWORD error) {
        wchar_t buffer[512];
        const DWORD length =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
        std::wstring message(buffer, length);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                    message.back() == L'.' || message.back() == L' ')) {
            message.pop_back();
        }
        return message;
    }

    // True when every byte was written.
    static bool Write(HANDLE handle, const std::string& text) {
        DWORD mode = 0;
        if (::GetConsoleMode(handle, &mode)) {
            const std::wstring wide = packmeter::win::ToWide(text);
            std::size_t done = 0;
            while (done < wide.size()) {
                DWORD written = 0;
                if (!::WriteConsoleW(handle, wide.data() + done,
                                     static_cast<DWORD>(wide.size() - done), &written, nullptr) ||
                    written == 0) {
                    return false;
                }
                done += written;
            }
            return true;
        }
        std::size_t done = 0;
        while (done < text.size()) {
            DWORD written = 0;
            if (!::WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done),
                             &written, nullptr) ||
                written == 0) {
                return false;
            }
            done += written;
        }
        return true;
    }

    HANDLE out_;
    HANDLE err_;
    bool errInteractive_ = false;
    std::string outError_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Stays inactive unless the build's instrumenting step gave the program a data block.
    packmeter::InstallFaultLogger(false);
    // As the window does at start: lets an administrator's scan read every folder.
    packmeter::EnableBackupPrivilege();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(packmeter::win::ToUtf8(argv[i]));
    }
    WindowsTerminal terminal;
    return packmeter::cli::RunCli(args, terminal);
}
