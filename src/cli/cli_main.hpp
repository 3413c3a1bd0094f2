#pragma once

#include <string>
#include <vector>

namespace packmeter::cli {

// Where the command-line tool writes: the platform's main decides how text reaches the console.
class Terminal {
  public:
    virtual ~Terminal() = default;
    // Writes to standard output; false when the text could not be written in full.
    virtual bool Out(const std::string& text) = 0;
    // Why the last Out failed, for the message; empty when not known.
    virtual std::string OutError() const { return {}; }
    virtual void Err(const std::string& text) = 0;
    // Whether the error stream is an interactive terminal (progress is shown only there).
    virtual bool ErrIsInteractive() const = 0;
};

// Runs the tool with its arguments (without the program name); returns the exit code:
// 0 success, 1 a compression that failed, 2 bad arguments, a folder that cannot be read or
// output that cannot be written.
int RunCli(const std::vector<std::string>& args, Terminal& terminal);

}  // namespace packmeter::cli
