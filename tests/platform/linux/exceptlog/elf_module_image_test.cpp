#include "platform/linux/exceptlog/elf_module_image.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/exceptlog/data_block.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

TEST(ElfModuleImage, KindsAndExportedFunctions) {
    const auto program = ProgramModuleImage();
    EXPECT_EQ(program.FileName(), fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(program.Kind(), FaultModuleKind::kExecutable);

    // The C library: a shared library whose exported functions sit where the loader put them.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::getpid), &info), 0);
    const ElfModuleImage libc(reinterpret_cast<std::uintptr_t>(info.dli_fbase), info.dli_fname);
    EXPECT_EQ(libc.Kind(), FaultModuleKind::kLibrary);
    const TFaultFunctionsList functions(libc.Functions());
    const auto address = reinterpret_cast<std::uintptr_t>(&::getpid);
    const auto* found = functions.Find(address);
    ASSERT_TRUE(found);
    EXPECT_NE(found->Name.find("getpid"), std::string::npos);
    EXPECT_EQ(found->Start, address);

    EXPECT_EQ(ElfModuleImage(0, "/etc/hostname").Kind(), FaultModuleKind::kNotImage);
    EXPECT_TRUE(ElfModuleImage(0, "/no/such/file").Functions().empty());
}

TEST(FaultLogger, InactiveWithoutABlockActiveWithAnAppendedOne) {
    // This test program went through no instrumenting step.
    EXPECT_FALSE(InstallFaultLogger());
    EXPECT_FALSE(FaultLogger().IsActive());
    EXPECT_EQ(CurrentFaultLogOptions(), nullptr);

    // A copy of it with a block appended: still a valid program, and now configured.
    const fs::path copy = fs::temp_directory_path() / ("faultlog-" + std::to_string(::getpid()));
    fs::copy_file("/proc/self/exe", copy, fs::copy_options::overwrite_existing);
    TFaultModuleOptions options;
    options.MaxLoggedErrors = 3;
    std::ofstream(copy, std::ios::binary | std::ios::app) << WriteAppendedDataBlock(options, "D");
    EXPECT_EQ(ElfModuleImage(0, copy.string()).Kind(), FaultModuleKind::kExecutable);
    FaultLoggerState logger;
    EXPECT_TRUE(logger.Start(ElfModuleImage(0x1234, copy.string())));
    EXPECT_EQ(logger.ProgramModule()->Options->MaxLoggedErrors, 3);
    EXPECT_EQ(logger.ProgramModule()->DebugInfo, "D");
    EXPECT_EQ(logger.Modules()->Find(0x1234), logger.ProgramModule());
    fs::remove(copy);
}

}  // namespace
}  // namespace packmeter
