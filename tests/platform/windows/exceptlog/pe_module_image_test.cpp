#include "platform/windows/exceptlog/pe_module_image.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/exceptlog/data_block.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

TEST(PeModuleImage, KindsExportsAndTheEmptyDataBlock) {
    const PeModuleImage program(::GetModuleHandleW(nullptr));
    EXPECT_EQ(program.Kind(), FaultModuleKind::kExecutable);
    EXPECT_EQ(program.ResourceBlock(), std::string(8, '\0'));
    EXPECT_NE(program.FileName().find("windows_faultlog_tests"), std::string::npos);

    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const PeModuleImage library(kernel);
    EXPECT_EQ(library.Kind(), FaultModuleKind::kLibrary);
    EXPECT_FALSE(library.ResourceBlock());
    const TFaultFunctionsList functions(library.Functions());
    const auto address = reinterpret_cast<std::uintptr_t>(::GetProcAddress(kernel, "GetTickCount"));
    const auto* found = functions.Find(address);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Name, "GetTickCount");
}

TEST(FaultLogger, TheEmptyResourceLeavesTheLoggerInactive) {
    EXPECT_FALSE(InstallFaultLogger());
    EXPECT_FALSE(FaultLogger().IsActive());
    EXPECT_EQ(CurrentFaultLogOptions(), nullptr);
}

}  // namespace
}  // namespace packmeter

namespace packmeter {
namespace {

TEST(SystemReportValues, DescribeTheProgramAndTheSystem) {
    FaultReportValues values;
    FillSystemReportValues(values);
    // Without a version resource the program's file name stands for its description.
    EXPECT_EQ(values[lfAppName], "windows_faultlog_tests.exe");
    EXPECT_EQ(values[lfVersionNumber], "");
    EXPECT_FALSE(values[lfComputerName].empty());
    EXPECT_NE(values[lfTotalMemory].find(" Mb"), std::string::npos);
    EXPECT_NE(values[lfFreeDisk].find(" Gb"), std::string::npos);
    EXPECT_EQ(values[lfOSType].rfind("Microsoft Windows ", 0), 0u) << values[lfOSType];
    EXPECT_NE(values[lfOSBuild], "0");
    EXPECT_FALSE(values[lfOSLanguage].empty());
}

}  // namespace
}  // namespace packmeter
