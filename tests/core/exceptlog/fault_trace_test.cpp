#include "core/exceptlog/fault_trace.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace packmeter {
namespace {

namespace fs = std::filesystem;

TEST(FaultTrace, LinesIndentationValuesAndFile) {
    const fs::path program = fs::temp_directory_path() / "faultlog-trace.exe";
    const fs::path log = fs::temp_directory_path() / "faultlog-trace.log";
    fs::remove(log);

    FaultTraceFile idle;
    idle.StartFromArgument("C:\\data", program.string());
    idle.Enter("Ignored");
    EXPECT_FALSE(idle.Active());
    EXPECT_EQ(idle.Text(), "");

    FaultTraceFile trace;
    trace.Clock = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 8;
        t.tm_hour = 2;
        t.tm_min = 3;
        t.tm_sec = 4;
        return t;
    };
    trace.StartFromArgument("debug", program.string());
    ASSERT_TRUE(trace.Active());
    trace.Enter("InstallFaultLogger");
    trace.Enter("Report",
                {TraceValue::Integer(-3), TraceValue::Boolean(true), TraceValue::Character('x'),
                 TraceValue::Float(1.5), TraceValue::Text("it"), TraceValue::Pointer(nullptr),
                 TraceValue::Object("TFaultModuleOptionsEx")});
    trace.Exit("Report", {TraceValue::Boolean(false)});
    EXPECT_FALSE(fs::exists(log));  // without "SAVE", only notes and the end write the file
    trace.Note("[WARNING] - Code: flLogError - Message: \"General 'Log' error.\"");
    trace.Exit("InstallFaultLogger");
    EXPECT_EQ(trace.Text(),
              "08/12/26 02:03:04  InstallFaultLogger\r\n"
              "08/12/26 02:03:04    Report(-3, True, x, 1.5, 'it', nil, TFaultModuleOptionsEx)\r\n"
              "08/12/26 02:03:04    Report=(False)\r\n"
              "08/12/26 02:03:04    [WARNING] - Code: flLogError - Message: \"General 'Log' "
              "error.\"\r\n"
              "08/12/26 02:03:04  InstallFaultLogger=\r\n");
    std::ifstream in(log, std::ios::binary);
    const std::string written(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(written, trace.Text().substr(0, written.size()));
    EXPECT_EQ(written.size(), trace.Text().size() -
                                  std::string("08/12/26 02:03:04  InstallFaultLogger=\r\n").size());
    EXPECT_EQ(TraceValue::Pointer(reinterpret_cast<void*>(0xABCD)).Shown(), "$0000ABCD");

    FaultTraceFile saving;
    saving.StartFromArgument("x-DebugSave", program.string());
    saving.Enter("One");
    in = std::ifstream(log, std::ios::binary);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(in), {}).find("  One\r\n"),
              std::string::npos);
    in.close();  // Windows removes no open file
    fs::remove(log);
}

}  // namespace
}  // namespace packmeter
