#include "core/exceptlog/line_table.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

TEST(LineTable, FromDecodedRowsToLookedUpLines) {
    const std::string dump =
        "\n"
        "prog:     file format elf64-x86-64\n"
        "Contents of the .debug_line section:\n"
        "/src/main.cpp:\n"
        "File name                            Line number    Starting address    View    Stmt\n"
        "main.cpp                                      14              0x2000               x\n"
        "main.cpp                                      15              0x2004               x\n"
        "main.cpp                                      15              0x2008        1      x\n"
        "main.cpp                                      16              0x2010               x\n"
        "main.cpp                                      18              0x2020               x\n"
        "main.cpp                                      19              0x2024\n"
        "main.cpp                                      12              0x2030               x\n"
        "main.cpp                                       -              0x2040\n"
        "\n";
    const auto rows = ParseDecodedLines(dump);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[7].line, 0);
    EXPECT_EQ(rows[7].address, 0x2040u);

    // Two functions: 0x2000-0x201F and 0x2020 on.
    const auto functionOf = [](std::uint64_t a) { return a < 0x2020 ? "one()" : "two(int)"; };
    const auto units = BuildDebugUnits(rows, functionOf, 0);
    ASSERT_EQ(units.size(), 3u);  // one(), two(int) and two(int) again after its line went back
    const std::string block = WriteDebugInfo({}, units);
    const struct {
        std::uint64_t address;
        const char* procedure;
        int line;
    } cases[] = {
        {0x2000, "one()", 14},    {0x2007, "one()", 15},    {0x200F, "one()", 15},
        {0x2010, "one()", 16},    {0x201F, "one()", 16},    {0x2020, "two(int)", 18},
        {0x2024, "two(int)", 19}, {0x2030, "two(int)", 12}, {0x203F, "two(int)", 12},
    };
    for (const auto& c : cases) {
        const auto info = LookUpDebugInfo(block, kFaultDataVersion,
                                          static_cast<std::uint32_t>(c.address - kFaultCodeBase));
        ASSERT_TRUE(info) << c.address;
        EXPECT_EQ(info->UnitName, "main.cpp");
        EXPECT_EQ(info->ClassName, "");
        EXPECT_EQ(info->ProcedureName, c.procedure) << c.address;
        EXPECT_EQ(info->Line, c.line) << c.address;
    }
    EXPECT_FALSE(LookUpDebugInfo(block, kFaultDataVersion, 0x2040 - kFaultCodeBase));
}

// Code the compiler inlined from a standard header is named by the line of our source that
// holds it, as long as that line is in the same function; a function made only of header code
// keeps the header's name.
TEST(LineTable, InlinedHeaderRowsNameTheLineOfOurSource) {
    const std::string dump =
        "CU: ./src/main.cpp:\n"
        "File name                            Line number    Starting address    View    Stmt\n"
        "main.cpp                                       5              0x2000               x\n"
        "\n"
        "/usr/include/c++/12/bits/stl_vector.h:\n"
        "stl_vector.h                                 988              0x2004\n"
        "stl_vector.h                                1150              0x2008               x\n"
        "\n"
        "/work/src/main.cpp:\n"
        "main.cpp                                       6              0x2010               x\n"
        "\n"
        "/usr/x86_64-w64-mingw32/include/c++/tuple: [++]\n"
        "tuple                                       1577              0x2014       4       x\n"
        "\n"
        "/work/src/main.cpp:\n"
        "main.cpp                                       7              0x2018               x\n"
        "\n"
        "/usr/include/c++/12/tuple:\n"
        "tuple                                        199              0x2020               x\n"
        "tuple                                          -              0x2030\n";
    const auto rows = ParseDecodedLines(dump);
    ASSERT_EQ(rows.size(), 8u);
    const auto functionOf = [](std::uint64_t a) { return a < 0x2020 ? "run()" : "std::get<0>()"; };
    const std::string block = WriteDebugInfo({}, BuildDebugUnits(rows, functionOf, 0));
    const struct {
        std::uint64_t address;
        const char* unit;
        int line;
    } cases[] = {
        {0x2000, "main.cpp", 5}, {0x2004, "main.cpp", 5}, {0x200C, "main.cpp", 5},
        {0x2010, "main.cpp", 6}, {0x2014, "main.cpp", 6}, {0x2018, "main.cpp", 7},
        {0x2020, "tuple", 199},  {0x202F, "tuple", 199},
    };
    for (const auto& c : cases) {
        const auto info = LookUpDebugInfo(block, kFaultDataVersion,
                                          static_cast<std::uint32_t>(c.address - kFaultCodeBase));
        ASSERT_TRUE(info) << c.address;
        EXPECT_EQ(info->UnitName, c.unit) << c.address;
        EXPECT_EQ(info->Line, c.line) << c.address;
    }
    EXPECT_FALSE(IsSystemSourcePath("/work/wt/src/core/utils/program_thread.hpp"));
}

}  // namespace
}  // namespace packmeter
