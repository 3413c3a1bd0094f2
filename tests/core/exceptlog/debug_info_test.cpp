#include "core/exceptlog/debug_info.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

// One unit with a record of every encoding, and a second small unit.
std::string SampleBlock() {
    FaultDebugUnit window{"main_window.cpp", 10, 0x100, 0x2000, {}};
    window.records = {
        {1, 4, "TMainForm.FormShow"},  // one byte with a name
        {2, 16, ""},                   // one byte
        {30, 100, ".ScanFolder"},      // a word; the procedure waits for the next record
        {1000, 0x20, "Helper"},        // a double word; no class
        {0xFFFF, 0xFFF, "@Init"},      // the escaped form, followed by both steps
        {1, 0, "X.Y"},                 // covers no code
    };
    const FaultDebugUnit util{"util", 5, 0x3000, 0x10, {{1, 1, "Func"}}};
    return WriteDebugInfo({{"TMainForm.FormShow", 0x100, 7}, {"util.Func", 0x3000, 0}},
                          {window, util});
}

TEST(DebugInfo, LooksUpUnitClassProcedureAndLine) {
    const std::string block = SampleBlock();
    const struct {
        std::uint32_t offset;
        const char* unit;
        const char* className;
        const char* procedure;
        int line;
    } cases[] = {
        {0x100, "main_window.cpp", "TMainForm", "FormShow", 10},
        {0x103, "main_window.cpp", "TMainForm", "FormShow", 10},
        {0x104, "main_window.cpp", "TMainForm", "FormShow", 11},
        {0x177, "main_window.cpp", "TMainForm", "FormShow", 13},
        {0x178, "main_window.cpp", "", "ScanFolder", 43},
        {0x198, "main_window.cpp", "", "Helper", 1043},
        {0x1196, "main_window.cpp", "", "Helper", 1043},
        // Past the records, the rest of the unit keeps the last line and names.
        {0x1197, "main_window.cpp", "X", "Y", 1043 + 0xFFFF + 1},
        {0x20FF, "main_window.cpp", "X", "Y", 1043 + 0xFFFF + 1},
        // A name without an extension (a standard header: "tuple") stays as it is.
        {0x3000, "util", "", "Func", 5},
    };
    for (const auto& c : cases) {
        const auto info = LookUpDebugInfo(block, kFaultDataVersion, c.offset);
        ASSERT_TRUE(info) << c.offset;
        EXPECT_EQ(info->Kind, dkDebugInfo);
        EXPECT_EQ(info->UnitName, c.unit) << c.offset;
        EXPECT_EQ(info->ClassName, c.className) << c.offset;
        EXPECT_EQ(info->ProcedureName, c.procedure) << c.offset;
        EXPECT_EQ(info->Line, c.line) << c.offset;
    }
    for (const std::uint32_t outside : {0x0u, 0xFFu, 0x2100u, 0x3010u}) {
        EXPECT_FALSE(LookUpDebugInfo(block, kFaultDataVersion, outside)) << outside;
    }
    EXPECT_FALSE(LookUpDebugInfo(block.substr(0, block.size() - 2), kFaultDataVersion, 0x3000));
}

TEST(DebugInfo, ProcedureIndexAndOlderBlocksWithoutIt) {
    const std::string block = SampleBlock();
    EXPECT_EQ(FindProcedureOffset(block, kFaultDataVersion, "util.Func"), 0x3000u);
    EXPECT_EQ(FindProcedureOffset(block, kFaultDataVersion, "TMainForm.FormShow"), 0x100u);
    EXPECT_FALSE(FindProcedureOffset(block, kFaultDataVersion, "util.func"));

    // Up to version 404 the block starts with the units.
    const std::uint32_t indexLength =
        static_cast<std::uint8_t>(block[0]) | static_cast<std::uint8_t>(block[1]) << 8;
    const std::string old = block.substr(4 + indexLength);
    EXPECT_EQ(LookUpDebugInfo(old, 404, 0x3000)->ProcedureName, "Func");
    EXPECT_FALSE(FindProcedureOffset(old, 404, "util.Func"));

    // The smallest block, byte by byte: no index, one unit, one one-byte record.
    const std::string tiny = WriteDebugInfo({}, {{"a.c", 1, 2, 3, {{1, 1, ""}}}});
    const char k = static_cast<char>(kFaultTextKey);
    EXPECT_EQ(tiny, std::string("\0\0\0\0\1\0\0\0\3", 9) + char('a' ^ k) + char('.' ^ k) +
                        char('c' ^ k) + std::string("\1\0\0\0\2\0\0\0\3\0\0\0\1\0\0\0\0", 17));
}

}  // namespace
}  // namespace packmeter
