#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_main.hpp"
#include "platform/fault_logger.hpp"
#include "platform/system.hpp"

namespace {

class FdTerminal final : public packmeter::cli::Terminal {
  public:
    bool Out(const std::string& text) override {
        // The text is written directly, with no buffer left to flush: a failed write (a full
        // disk, a closed pipe) is seen here.
        const int failure = Write(STDOUT_FILENO, text);
        if (failure != 0) {
            outError_ = std::strerror(failure);
        }
        return failure == 0;
    }
    std::string OutError() const override { return outError_; }
    void Err(const std::string& text) override { Write(STDERR_FILENO, text); }
    bool ErrIsInteractive() const override { return ::isatty(STDERR_FILENO) == 1; }
    int ErrColumns() const override {
        winsize size{};
        return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    }

  private:
    // 0 when every byte was written, else the error number.
    static int Write(int fd, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return n < 0 ? errno : EIO;
            }
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    std::string outError_;
};

}  // namespace

int main(int argc, char** argv) {
    // Stays inactive unless the build's instrumenting step gave the program a data block.
    packmeter::InstallFaultLogger(false);
    packmeter::RaiseOpenFileLimit();
    // Read every folder the process may read; the result only widens what is measured.
    packmeter::EnableBackupPrivilege();
    FdTerminal terminal;
    return packmeter::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), terminal);
}
