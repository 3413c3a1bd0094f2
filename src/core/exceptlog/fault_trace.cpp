#include "core/exceptlog/fault_trace.hpp"
#include "core/utils/text.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace packmeter {

namespace {

std::string Stamp(const std::tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year % 100, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::tm Now() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

std::string Line(std::string_view routine, std::initializer_list<TraceValue> values) {
    std::string line(routine);
    if (values.size() > 0) {
        line += '(';
        bool first = true;
        for (const auto& value : values) {
            line += first ? "" : ", ";
            line += value.Shown();
            first = false;
        }
        line += ')';
    }
    return line;
}

}  // namespace

TraceValue TraceValue::Float(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return TraceValue(text);
}

TraceValue TraceValue::Text(std::string_view value) {
    return TraceValue("'" + std::string(value) + "'");
}

TraceValue TraceValue::Pointer(const void* value) {
    if (!value) {
        return TraceValue("nil");
    }
    char text[32];
    std::snprintf(text, sizeof text, "$%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(value)));
    return TraceValue(text);
}

TraceValue TraceValue::Object(const char* className) {
    return TraceValue(className ? className : "nil");
}

void FaultTraceFile::StartFromArgument(std::string_view lastArgument, std::string programFile) {
    const std::string lower = AsciiLower(lastArgument);
    if (lower.find("debug") == std::string::npos) {
        return;
    }
    const auto slash = programFile.find_last_of("/\\");
    const auto dot = programFile.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        programFile.resize(dot);
    }
    std::lock_guard guard(lock_);
    fileName_ = programFile + ".log";
    saveEveryLine_ = lower.find("save") != std::string::npos;
    active_ = true;
}

void FaultTraceFile::Add(std::string line, bool saveNow) {
    {
        std::lock_guard guard(lock_);
        lines_.push_back(Stamp(Clock ? Clock() : Now()) + "  " + line);
    }
    if (saveNow) {
        Save();
    }
}

void FaultTraceFile::Enter(std::string_view routine, std::initializer_list<TraceValue> values) {
    if (!active_) {
        return;
    }
    std::string line;
    {
        std::lock_guard guard(lock_);
        line = indent_ + Line(routine, values);
        indent_ += "  ";
    }
    Add(std::move(line), saveEveryLine_);
}

void FaultTraceFile::Exit(std::string_view routine, std::initializer_list<TraceValue> values) {
    if (!active_) {
        return;
    }
    std::string line;
    {
        std::lock_guard guard(lock_);
        indent_.resize(indent_.size() >= 2 ? indent_.size() - 2 : 0);
        line = indent_ + Line(std::string(routine) + "=", values);
    }
    Add(std::move(line), saveEveryLine_);
}

void FaultTraceFile::Note(std::string_view text) {
    if (!active_) {
        return;
    }
    std::string line;
    {
        std::lock_guard guard(lock_);
        line = indent_ + std::string(text);
    }
    Add(std::move(line), true);
}

std::string FaultTraceFile::Text() const {
    std::lock_guard guard(lock_);
    std::string text;
    for (const auto& line : lines_) {
        text += line + "\r\n";
    }
    return text;
}

bool FaultTraceFile::Save() const {
    if (!active_) {
        return false;
    }
    const std::string text = Text();
    std::ofstream out(std::filesystem::path(std::u8string(fileName_.begin(), fileName_.end())),
                      std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return !out.fail();
}

FaultTraceFile& FaultTrace() {
    static FaultTraceFile trace;
    return trace;
}

}  // namespace packmeter
