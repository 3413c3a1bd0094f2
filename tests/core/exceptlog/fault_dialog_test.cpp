#include "core/exceptlog/fault_dialog.hpp"

#include <gtest/gtest.h>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {
namespace {

TEST(FaultDialogTest, TheCallStackPageListsTheNamedEntriesWithTheirModulesPictures) {
    TFaultModuleInfo program;
    program.FileName = "/opt/packmeter/packmeter";
    program.Kind = FaultModuleKind::kExecutable;
    TFaultModuleInfo package;
    package.FileName = "/opt/packmeter/rtl.bpl";
    package.Kind = FaultModuleKind::kPackage;
    TFaultModuleInfo library;
    library.FileName = "/usr/lib/libc.so.6";
    library.Kind = FaultModuleKind::kLibrary;
    const TFaultStackList stack = {
        {dkDebugInfo, &program, 0x401234, "main.cpp", "TMainForm", "Scan", 42},
        {dkUnitProcedure, &program, 0x401300, "forms.pas", "", "Run", 0},  // left out
        {dkProcedure, &program, 0x401400, "", "", "start", 0},
        {dkUnitProcedure, &package, 0x501000, "classes.pas", "TList", "Get", 0},
        {dkProcedure, &library, 0x7F001000, "", "", "__libc_start_main", 0},
        {dkModule, &library, 0x7F002000, "", "", "", 0},  // left out: no name
    };
    const auto rows = FaultDialogRows(stack);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].image, FaultRowImage::kUnit);
    EXPECT_EQ(rows[0].cells, (std::array<std::string, 6>{"00401234", "packmeter", "main.cpp",
                                                         "TMainForm", "Scan", "42"}));
    EXPECT_EQ(rows[1].image, FaultRowImage::kExecutable);
    EXPECT_EQ(rows[1].cells[5], "");
    EXPECT_EQ(rows[2].image, FaultRowImage::kPackage);
    EXPECT_EQ(rows[3].image, FaultRowImage::kLibrary);
    EXPECT_EQ(rows[3].cells[1], "libc.so.6");
}

TEST(FaultDialogTest, TheExpandedWindowStaysOnTheScreen) {
    const DialogRect screen{0, 0, 800, 600};
    const struct {
        const char* ini;
        DialogRect placed;
    } cases[] = {
        {"", {80, 107, 640, 385}},  // defaults, centred
        {"[coordinates]\nwidth = 500\nHeight=300\nLeft=40\nTop=30\n", {40, 30, 500, 300}},
        {"[Coordinates]\nWidth=500\nHeight=300\nLeft=5000\nTop=-20\n", {300, 0, 500, 300}},
        // A screen smaller than the stored size: at the edge, never at a negative position.
        {"[Coordinates]\nWidth=1000\nHeight=900\nLeft=10\nTop=10\n", {0, 0, 1000, 900}},
        {"[Other]\nWidth=100\n[Coordinates]\nWidth=x\nHeight=300\n", {80, 150, 640, 300}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        EXPECT_EQ(PlaceExpandedDialog(ReadDialogCoordinates(c.ini), screen), c.placed);
    }
}

TEST(FaultDialogTest, TheCoordinatesAreWrittenBackBesideOtherSections) {
    FaultDialogCoordinates stored;
    stored.left = 12;
    stored.top = 34;
    stored.windowsState = 3;
    stored.columns[5] = 60;
    const std::string text =
        WriteDialogCoordinates("[Other]\r\nKept=1\r\n[Coordinates]\r\nWidth=1\r\n", stored);
    EXPECT_EQ(text,
              "[Other]\r\nKept=1\r\n[Coordinates]\r\nWidth=640\r\nHeight=385\r\nLeft=12\r\n"
              "Top=34\r\nWindowsState=3\r\nCol0=80\r\nCol1=102\r\nCol2=105\r\nCol3=118\r\n"
              "Col4=138\r\nCol5=60\r\n");
    const auto read = ReadDialogCoordinates(text);
    EXPECT_EQ(read.left, 12);
    EXPECT_EQ(read.windowsState, 3);
    EXPECT_EQ(read.columns[5], 60);
}

}  // namespace
}  // namespace packmeter
