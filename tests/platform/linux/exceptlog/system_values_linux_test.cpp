#include <sys/utsname.h>

#include <gtest/gtest.h>

#include <regex>

#include "platform/fault_logger.hpp"

namespace packmeter {
namespace {

TEST(SystemReportValues, DescribeTheRunningSystem) {
    FaultReportValues values;
    FillSystemReportValues(values);
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(values[lfAppName], "linux_faultlog_tests");
    EXPECT_TRUE(std::regex_match(values[lfVersionNumber], std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
    EXPECT_EQ(values[lfComputerName], names.nodename);
    EXPECT_EQ(values[lfOSBuild], names.release);
    for (const int field : {lfTotalMemory, lfFreeMemory}) {
        EXPECT_TRUE(std::regex_match(values[field], std::regex(R"([1-9]\d* Mb)"))) << values[field];
    }
    for (const int field : {lfTotalDisk, lfFreeDisk}) {
        EXPECT_TRUE(std::regex_match(values[field], std::regex(R"(\d+(\.\d\d?)? Gb)")))
            << values[field];
    }
    // The distribution's name, never empty.
    EXPECT_FALSE(values[lfOSType].empty());
    EXPECT_EQ(values[lfExceptionMessage], "");
}

}  // namespace
}  // namespace packmeter
