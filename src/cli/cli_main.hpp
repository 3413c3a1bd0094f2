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
    // The error stream's width in columns when it is a terminal; 0 when not known.
    virtual int ErrColumns() const { return 0; }
    // A progress line: replaces the last one, cut to the terminal's width so that it never
    // wraps (a wrapped line would stay behind at the next redraw).
    void ErrProgress(const std::string& text) {
        std::string line = text;
        if (const int columns = ErrColumns(); columns > 1) {
            // Cut after columns - 1 characters (UTF-8 sequences kept whole).
            int count = 0;
            for (std::size_t at = 0; at < line.size(); ++at) {
                if ((static_cast<unsigned char>(line[at]) & 0xC0) != 0x80 &&
                    count++ == columns - 1) {
                    line.resize(at);
                    break;
                }
            }
        }
        Err("\r\033[K" + line);
    }
};

// Runs the tool with its arguments (without the program name); returns the exit code:
// 0 success, 1 a compression that failed, 2 bad arguments, a folder that cannot be read or
// output that cannot be written.
int RunCli(const std::vector<std::string>& args, Terminal& terminal);

}  // namespace packmeter::cli
