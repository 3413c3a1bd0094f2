#include "cli/cli_options.hpp"

#include <algorithm>
#include <cctype>
#include <optional>
#include <stdexcept>

#include "core/app/list_columns.hpp"
#include "core/utils/forecast.hpp"
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
    "       packmeter-cli [OPTION]... compress|decompress [--] PATH...\n"
    "       packmeter-cli [OPTION]... estimate [--quick] [--] PATH...\n";

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
           "  estimate    forecast, without changing anything, what compressing each PATH\n"
           "              would leave on disk, by the rules of its file system (btrfs, NTFS)\n"
           "\n"
           "Options:\n"
           "  --format FORMAT  table (default), tsv or json\n"
           "  --sort COLUMN    name, size, compressed or ratio, ordered as the window orders\n"
           "                   that column (by name: files before folders)\n"
           "  --reverse        the other way round (without --sort: the listing order reversed)\n"
           "  --by-algorithm   after the rows, the totals by compression algorithm: type,\n"
           "                   percent, on-disk, uncompressed and referenced bytes (table;\n"
           "                   json always has by_algorithm)\n"
           "  --no-helper      on btrfs without root, do not start the measuring helper:\n"
           "                   files show their uncompressed size\n"
           "  --algorithm ALG  estimate and compress on btrfs: zstd[:LEVEL] (1-15, default 3),\n"
           "                   lzo or zlib[:LEVEL] (1-9, default 3); NTFS has LZNT1 only\n"
           "  --min-saving PERCENT\n"
           "                   compress: leave plain each file whose forecast (of its first\n"
           "                   MiB) saves less; such files are reported, not failed\n"
           "  --quick          estimate: read a sample of each large file (the first, last\n"
           "                   and evenly spread stretches, a sixteenth of them) and of one in\n"
           "                   eight small files of each size and type, and scale\n"
           "  -h, --help       show this help and exit\n" +
           (kSlashHelp ? "  /?, /help        the same\n" : "") +
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
           "         not valid UTF-8; kind (file, folder, link, mount, special), unreadable\n"
           "         and by_algorithm (on_disk, uncompressed, referenced per algorithm)\n"
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

// An option's value as the user may type it: any case ("TSV", "Name").
std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
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
        } else if (arg == "--help" || arg == "-h" ||
                   (kSlashHelp && (arg == "/?" || Lower(arg) == "/help"))) {
            options.help = true;
            return true;
        } else if (arg == "--version") {
            options.version = true;
            return true;
        } else if (arg == "--reverse") {
            options.reverse = true;
        } else if (arg == "--by-algorithm") {
            options.byAlgorithm = true;
        } else if (arg == "--no-helper") {
            options.noHelper = true;
        } else if (IsOption(arg, "--format")) {
            const auto value = OptionValue(args, i, "--format", error);
            if (!value) {
                error += ": table, tsv or json";
                return false;
            }
            const std::string format = Lower(*value);
            if (format == "table") {
                options.format = Format::kTable;
            } else if (format == "tsv") {
                options.format = Format::kTsv;
            } else if (format == "json") {
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
            const std::string column = Lower(*value);
            if (column == "name") {
                options.sortColumn = kNameColumn;
            } else if (column == "size") {
                options.sortColumn = kSizeColumn;
            } else if (column == "compressed") {
                options.sortColumn = kCompressedColumn;
            } else if (column == "ratio") {
                options.sortColumn = kRatioColumn;
            } else {
                error = "unknown column '" + ToSafeDisplayText(*value) +
                        "': use name, size, compressed or ratio";
                return false;
            }
        } else if (arg == "--quick") {
            options.quick = true;
        } else if (IsOption(arg, "--algorithm")) {
            const auto value = OptionValue(args, i, "--algorithm", error);
            const auto choice = value ? ParseCompressionMethod(*value) : std::nullopt;
            if (!choice || choice->algorithm == CompressionAlgorithm::kLznt1) {
                error = (value ? "unknown algorithm '" + ToSafeDisplayText(*value) + "'" : error) +
                        ": use zstd[:1-15], lzo or zlib[:1-9]";
                return false;
            }
            options.choice.algorithm = choice->algorithm;
            options.choice.level = choice->level;
        } else if (IsOption(arg, "--min-saving")) {
            const auto value = OptionValue(args, i, "--min-saving", error);
            std::size_t used = 0;
            double percent = -1;
            try {
                percent = value ? std::stod(*value, &used) : -1;
            } catch (const std::exception&) {
                percent = -1;
            }
            if (!value || used != value->size() || !(percent >= 0 && percent <= 100)) {
                error = (value ? "bad --min-saving '" + ToSafeDisplayText(*value) + "'" : error) +
                        ": a percentage from 0 to 100";
                return false;
            }
            options.choice.minSavingPercent = percent;
        } else if (arg.size() > 1 && arg.front() == '-') {
            error = "unknown option '" + ToSafeDisplayText(arg) + "'";
            return false;
        } else if (options.command.empty() && options.paths.empty() &&
                   (arg == "compress" || arg == "decompress" || arg == "estimate")) {
            options.command = arg;
        } else {
            options.paths.push_back(arg);
        }
    }
    if (options.command.empty() && options.paths.size() > 1) {
        error = "one folder at a time";
        return false;
    }
    if (options.quick && options.command != "estimate") {
        error = "--quick is for estimate";
        return false;
    }
    if (options.choice.minSavingPercent > 0 && options.command != "compress") {
        error = "--min-saving is for compress";
        return false;
    }
    if (options.choice.algorithm != CompressionAlgorithm::kDefault &&
        options.command != "compress" && options.command != "estimate") {
        error = "--algorithm is for compress and estimate";
        return false;
    }
    if (!options.command.empty() && options.paths.empty()) {
        error = options.command + " needs at least one path";
        return false;
    }
    return true;
}

}  // namespace packmeter::cli
