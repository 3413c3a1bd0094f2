#pragma once

#include <string>
#include <vector>

#include "cli/cli_output.hpp"

namespace packmeter::cli {

// What the command line asks for.
struct Options {
    Format format = Format::kTable;
    int sortColumn = -1;  // a column of the window's list, or -1 for the listing order
    bool reverse = false;
    bool help = false;
    bool version = false;
    std::string command;  // empty (scan), "compress" or "decompress"
    std::vector<std::string> paths;
};

// The first lines of the help, also shown after a usage error.
extern const char* const kUsage;

// The text of --help.
std::string HelpText();

// Reads the arguments (without the program name) into `options`; false, with `error` set to a
// message for the user, when they cannot be used.
bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error);

}  // namespace packmeter::cli
