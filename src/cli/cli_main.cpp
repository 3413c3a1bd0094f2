#include "cli/cli_main.hpp"

#include "cli/cli_commands.hpp"
#include "core/utils/version.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

int RunCli(const std::vector<std::string>& args, Terminal& terminal) {
    Options options;
    std::string error;
    if (!ParseArgs(args, options, error)) {
        terminal.Err("packmeter-cli: " + error + "\n" + kUsage +
                     "Try 'packmeter-cli --help' for more information.\n");
        return 2;
    }
    if (options.help) {
        return Write(HelpText(), terminal) ? 0 : 2;
    }
    if (options.version) {
        return Write("packmeter-cli (" + std::string(kApplicationTitle) + ") " + kProductVersion +
                         "\nFile version " + kFileVersion + "\n",
                     terminal)
                   ? 0
                   : 2;
    }
    if (options.noHelper) {
        DisableMeasureHelper();
    }
    if (options.command == "estimate") {
        return Estimate(options, terminal);
    }
    return options.command.empty() ? Scan(options, terminal) : Compress(options, terminal);
}

}  // namespace packmeter::cli
