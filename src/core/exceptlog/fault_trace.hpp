#pragma once

// The logger's diagnostic trace: its own routines report entry and exit, one line each, written
// beside the executable with the extension ".log". It is started by a last command-line
// argument that contains "DEBUG" (and rewritten after every line when it contains "SAVE"),
// whether or not the program carries a data block.

#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace packmeter {

// One value shown with a trace line.
class TraceValue {
  public:
    static TraceValue Integer(std::int64_t value) { return TraceValue(std::to_string(value)); }
    static TraceValue Boolean(bool value) { return TraceValue(value ? "True" : "False"); }
    static TraceValue Character(char value) { return TraceValue(std::string(1, value)); }
    static TraceValue Float(double value);
    static TraceValue Text(std::string_view value);   // in single quotes
    static TraceValue Pointer(const void* value);     // "$" and 8 hexadecimal digits, or "nil"
    static TraceValue Object(const char* className);  // the class name, or "nil"
    const std::string& Shown() const { return shown_; }

  private:
    explicit TraceValue(std::string shown) : shown_(std::move(shown)) {}
    std::string shown_;
};

class FaultTraceFile {
  public:
    // Starts the trace when the last argument asks for it. The clock is replaceable for tests.
    void StartFromArgument(std::string_view lastArgument, std::string programFile);
    bool Active() const { return active_; }

    void Enter(std::string_view routine, std::initializer_list<TraceValue> values = {});
    void Exit(std::string_view routine, std::initializer_list<TraceValue> values = {});
    // A line of its own (warnings and internal errors); the file is written at once.
    void Note(std::string_view text);

    std::string Text() const;
    bool Save() const;

    std::function<std::tm()> Clock;

  private:
    void Add(std::string line, bool saveNow);

    mutable std::mutex lock_;
    bool active_ = false;
    bool saveEveryLine_ = false;
    std::string fileName_;
    std::string indent_;
    std::vector<std::string> lines_;
};

// The process's trace.
FaultTraceFile& FaultTrace();

}  // namespace packmeter
