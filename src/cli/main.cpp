#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli_main.hpp"
#include "platform/system.hpp"

namespace {

class FdTerminal final : public packmeter::cli::Terminal {
  public:
    void Out(const std::string& text) override { Write(STDOUT_FILENO, text); }
    void Err(const std::string& text) override { Write(STDERR_FILENO, text); }
    bool ErrIsInteractive() const override { return ::isatty(STDERR_FILENO) == 1; }

  private:
    static void Write(int fd, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) {
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    packmeter::RaiseOpenFileLimit();
    // Read every folder the process may read; the result only widens what is measured.
    packmeter::EnableBackupPrivilege();
    FdTerminal terminal;
    return packmeter::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), terminal);
}
