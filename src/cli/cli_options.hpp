#pragma once

#include <string>
#include <vector>

#include "cli/cli_output.hpp"
#include "core/fs/filesystem.hpp"

namespace packmeter::cli {

// What the command line asks for.
struct Options {
    Format format = Format::kTable;
    int sortColumn = -1;  // a column of the window's list, or -1 for the listing order
    bool reverse = false;
    bool byAlgorithm = false;  // the totals by compression algorithm after the rows
    bool noHelper = false;     // measure without the measuring helper
    bool help = false;
    bool version = false;
    std::string command;  // empty (scan), "compress", "decompress" or "estimate"
    std::vector<std::string> paths;
    // estimate and compress: the algorithm and level (--algorithm), the threshold
    // (--min-saving, compress only) and the sampled forecast (--quick, estimate only).
    CompressionChoice choice;
    bool quick = false;
};

// The first lines of the help, also shown after a usage error.
extern const char* const kUsage;

// The text of --help.
std::string HelpText();

// Reads the arguments (without the program name) into `options`; false, with `error` set to a
// message for the user, when they cannot be used.
bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error);

}  // namespace packmeter::cli
