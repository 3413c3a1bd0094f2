#pragma once

#include <string>
#include <vector>

#include "cli/cli_main.hpp"
#include "cli/cli_options.hpp"
#include "cli/cli_output.hpp"

namespace packmeter::cli {

// Writes to standard output; false, with a message on stderr, when the text could not be written
// in full (a full disk, a closed pipe).
bool Write(const std::string& text, Terminal& terminal);

// The positions of the rows in the order the window shows them sorted by `column` (ascending,
// or descending when `descending`); rows that compare equal keep their order.
std::vector<std::size_t> RowOrder(const EntryRows& rows, int column, bool descending);

// Puts the rows in the order the options ask for and writes the report; a failed write turns
// any result into 2.
int Print(Report& report, const Options& options, Terminal& terminal, int result);

// The volume's notice (if any) on stderr.
void ShowNotice(const VolumeInfo& volume, Terminal& terminal);

// Once on stderr, when --algorithm names an algorithm and a volume is NTFS, which compresses with
// LZNT1 alone: the command goes on with LZNT1 there (and the algorithm elsewhere).
void NoteIgnoredAlgorithm(const Options& options, const std::vector<VolumeInfo>& volumes,
                          Terminal& terminal);

// Scans the folder the options name and prints its totals and rows; the exit code.
int Scan(const Options& options, Terminal& terminal);

// Switches compression on or off for the paths the options name and prints their rows; the
// exit code.
int Compress(const Options& options, Terminal& terminal);

// Forecasts what compressing the paths the options name would leave on disk; the exit code.
int Estimate(const Options& options, Terminal& terminal);

}  // namespace packmeter::cli
