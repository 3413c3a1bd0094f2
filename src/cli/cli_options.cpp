#include "cli/cli_options.hpp"

#include <optional>

#include "core/app/list_columns.hpp"
#include "core/utils/text.hpp"
#include "platform/system.hpp"

namespace packmeter::cli {

namespace {

#ifdef _WIN32
constexpr bool kSlashHelp = true;  // "/?" asks for help as with every Windows command
#else
constexpr bool kSlashHelp = false;
#endif

}  // namespace

const char* const kUsage =
    "usage: packmeter-cli [OPTION]... [--] [FOLDER]\n"
    "       packmeter-cli [OPTION]... compress|decompress [--] PATH...\n";

std::string HelpText() {
    const std::string separator(1, kPathSeparator);
    return std::string(kUsage) +
           "\n"
           "Measures every entry directly inside FOLDER (default: the current folder): its size,\n"
           "the space it takes on disk after file-system compression, and the saving ratio.\n"
           "\n"
           "Commands:\n"
           "  (none)      scan FOLDER: its totals and volume, then one row per entry\n"
           "  compress    switch compression on for each PATH (a folder with everything below\n"
           "              it, each folder before its contents) and print the updated rows\n"
           "  decompress  switch compression off in the same way\n"
           "\n"
           "Options:\n"
           "  --format FORMAT  table (default), tsv or json\n"
           "  --sort COLUMN    name, size, compressed or ratio, ordered as the window orders\n"
           "                   that column (by name: files before folders)\n"
           "  --reverse        the other way round (without --sort: the listing order reversed)\n"
           "  -h, --help       show this help and exit\n" +
           (kSlashHelp ? "  /?               the same\n" : "") +
           "  --version        show the product and file version and exit\n"
           "  --               end of options: every later argument is a path\n"
           "\n"
           "Formats:\n"
           "  table  the folder, its totals and volume, then aligned rows; folders end in '" +
           separator +
           "',\n"
           "         control characters in names are shown escaped (\\x1b), links, mount\n"
           "         points and entries that could not be read are noted in brackets\n"
           "  tsv    a heading line, then Name, Size, Compresed and Ratio, tab-separated, one\n"
           "         line per row; names escape \\\\ \\t \\n \\r, and other control bytes and\n"
           "         bytes that are not UTF-8 as \\xNN\n"
           "  json   folder, file_system, supports_compression, totals and entries; byte counts\n"
           "         as integers; name_bytes (base64) holds the exact bytes of a name that is\n"
           "         not valid UTF-8; kind (file, folder, link, mount, special) and unreadable\n"
           "\n"
           "Exit status:\n"
           "  0  success; entries that could not be read are reported on stderr and in the\n"
           "     output but do not fail a scan\n"
           "  1  some entry could not be switched\n"
           "  2  bad usage, a folder that cannot be read, or output that cannot be written\n";
}

namespace {

// The value of "--name VALUE" or "--name=VALUE" at args[i] (advancing i past it), or nothing
// (with `error` set) when it is missing.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name, std::string& error) {
    const std::string& arg = args[i];
    if (arg.size() > name.size()) {
        return arg.substr(name.size() + 1);
    }
    if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
    }
    return args[++i];
}

bool IsOption(const std::string& arg, const std::string& name) {
    return arg == name ||
           (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error) {
    bool onlyPaths = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPaths) {
            options.paths.push_back(arg);
        } else if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--help" || arg == "-h" || (kSlashHelp && arg == "/?")) {
            options.help = true;
            return true;
        } else if (arg == "--version") {
            options.version = true;
            return true;
        } else if (arg == "--reverse") {
            options.reverse = true;
        } else if (IsOption(arg, "--format")) {
            const auto value = OptionValue(args, i, "--format", error);
            if (!value) {
                error += ": table, tsv or json";
                return false;
            }
            if (*value == "table") {
                options.format = Format::kTable;
            } else if (*value == "tsv") {
                options.format = Format::kTsv;
            } else if (*value == "json") {
                options.format = Format::kJson;
            } else {
                error =
                    "unknown format '" + ToSafeDisplayText(*value) + "': use table, tsv or json";
                return false;
            }
        } else if (IsOption(arg, "--sort")) {
            const auto value = OptionValue(args, i, "--sort", error);
            if (!value) {
                error += ": name, size, compressed or ratio";
                return false;
            }
            if (*value == "name") {
                options.sortColumn = kNameColumn;
            } else if (*value == "size") {
                options.sortColumn = kSizeColumn;
            } else if (*value == "compressed") {
                options.sortColumn = kCompressedColumn;
            } else if (*value == "ratio") {
                options.sortColumn = kRatioColumn;
            } else {
                error = "unknown column '" + ToSafeDisplayText(*value) +
                        "': use name, size, compressed or ratio";
                return false;
            }
        } else if (arg.size() > 1 && arg.front() == '-') {
            error = "unknown option '" + ToSafeDisplayText(arg) + "'";
            return false;
        } else if (options.command.empty() && options.paths.empty() &&
                   (arg == "compress" || arg == "decompress")) {
            options.command = arg;
        } else {
            options.paths.push_back(arg);
        }
    }
    if (options.command.empty() && options.paths.size() > 1) {
        error = "one folder at a time";
        return false;
    }
    if (!options.command.empty() && options.paths.empty()) {
        error = options.command + " needs at least one path";
        return false;
    }
    return true;
}

}  // namespace packmeter::cli
