#include "core/exceptlog/report_text.hpp"

#include <gtest/gtest.h>

#include <cstdint>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {
namespace {

FaultReportValues SampleValues() {
    FaultReportValues v;
    v[lfStartDate] = "12/08/2026 01:39:20";
    v[lfAppName] = "Packmeter";
    v[lfVersionNumber] = "1.2.0.8";
    v[lfExceptionDate] = "12/08/2026 01:40:00";
    v[lfExceptionAddress] = "0040123A";
    v[lfExceptionModule] = "packmeter";
    v[lfExceptionType] = "EAccessViolation";
    v[lfExceptionMessage] = "Disk 100% full, %s %d.";
    v[lfFormClass] = "TMainForm";
    v[lfFormText] = "Packmeter";
    v[lfControlClass] = "TListViewEx";
    v[lfComputerName] = "build-host";
    v[lfTotalMemory] = "7962 Mb";
    v[lfFreeMemory] = "3001 Mb";
    v[lfTotalDisk] = "48.5 Gb";
    v[lfFreeDisk] = "12.25 Gb";
    v[lfOSType] = "Debian GNU/Linux 12 (bookworm)";
    v[lfOSBuild] = "6.1.0-13-amd64";
    v[lfOSLanguage] = "English";
    return v;
}

TEST(ReportText, SectionsAndCallStackTable) {
    TFaultModuleInfo program;
    program.FileName = "/opt/packmeter/packmeter";
    TFaultModuleInfo libc;
    libc.FileName = "/lib/libc.so.6";
    const TFaultStackList stack = {
        {dkDebugInfo, &program, 0x401000, "main_window.cpp", "TMainForm", "ScanFolder", 123},
        {dkModule, &program, 0x401234, "", "", "", 0},  // unnamed: left out
        {dkProcedure, &libc, 0x7F001234, "", "", "abort", 0},
    };
    const TFaultModuleOptions options;
    const std::string expected =
        "Application...\r\n"
        "  Start Date      : 12/08/2026 01:39:20\r\n"
        "  Name/Description: Packmeter\r\n"
        "  Version Number  : 1.2.0.8\r\n"
        "\r\n"
        "Exception...\r\n"
        "  Date   : 12/08/2026 01:40:00\r\n"
        "  Address: 0040123A\r\n"
        "  Module : packmeter\r\n"
        "  Type   : EAccessViolation\r\n"
        "  Message: Disk 100% full, %s %d.\r\n"
        "\r\n"
        "Active Controls...\r\n"
        "  Form Class   : TMainForm\r\n"
        "  Form Text    : Packmeter\r\n"
        "  Control Class: TListViewEx\r\n"
        "  Control Text : \r\n"
        "\r\n"
        "Computer...\r\n"
        "  Name        : build-host\r\n"
        "  Total Memory: 7962 Mb\r\n"
        "  Free Memory : 3001 Mb\r\n"
        "  Total Disk  : 48.5 Gb\r\n"
        "  Free Disk   : 12.25 Gb\r\n"
        "\r\n"
        "Operating System...\r\n"
        "  Type    : Debian GNU/Linux 12 (bookworm)\r\n"
        "  Build # : 6.1.0-13-amd64\r\n"
        "  Language: English\r\n"
        "\r\n"
        "--------------------------------------------------------------------\r\n"
        "|Address |Module   |Unit           |Class    |Procedure/Method|Line|\r\n"
        "--------------------------------------------------------------------\r\n"
        "|00401000|packmeter|main_window.cpp|TMainForm|ScanFolder      |123 |\r\n"
        "|7F001234|libc.so.6|               |         |abort           |    |\r\n"
        "--------------------------------------------------------------------";
    EXPECT_EQ(BuildReportText(SampleValues(), stack, options, true), expected);

    // A console program has no Active Controls section; its output starts with the heading.
    const std::string console =
        BuildConsoleText(BuildReportText(SampleValues(), {}, options, false), options);
    EXPECT_EQ(console.find("Active Controls"), std::string::npos);
    EXPECT_EQ(console.rfind(options.GetCustomText(3) + "\r\n\r\nApplication...\r\n", 0), 0u);
    EXPECT_NE(console.find("  Language: English\r\n\r\n-----"), std::string::npos);
    EXPECT_EQ(BuildHtmlReport("a b\r\nc", options),
              "<html><head><title>Error.</title></head><body><p><small><font "
              "face=\"Lucida Console,Courier\">a&nbsp;b<br>c</font></small></p></body></html>");
}

TEST(ReportText, LogFieldsAndLabelsShapeTheSections) {
    TFaultModuleOptions options;
    options.LogFields &= ~(1u << lfExceptionMessage | 1u << lfStartDate);
    options.CustomTexts[29] = "Physical Memory Total";  // the longest Computer label now
    options.CustomTexts[37] = "Addr";
    const std::string text = BuildReportSections(SampleValues(), options, true);
    EXPECT_NE(text.find("  Start Date      : \r\n"), std::string::npos);
    EXPECT_NE(text.find("  Message: \r\n"), std::string::npos);
    EXPECT_NE(text.find("  Name                 : build-host\r\n"), std::string::npos);
    EXPECT_NE(text.find("  Physical Memory Total: 7962 Mb\r\n"), std::string::npos);
    // The address column is never narrower than 8; the separator is as long as a row.
    EXPECT_EQ(BuildCallStackTable({}, options),
              "--------------------------------------------------\r\n"
              "|Addr    |Module|Unit|Class|Procedure/Method|Line|\r\n"
              "--------------------------------------------------\r\n"
              "--------------------------------------------------");
}

TEST(ReportText, ValueTexts) {
    std::tm time{};
    time.tm_year = 126;
    time.tm_mon = 0;
    time.tm_mday = 5;
    time.tm_hour = 7;
    time.tm_min = 3;
    time.tm_sec = 9;
    EXPECT_EQ(FormatReportDate(time), "01/05/2026 07:03:09");
    EXPECT_EQ(FormatReportAddress(0), "");
    EXPECT_EQ(FormatReportAddress(0xABC), "00000ABC");
    if constexpr (sizeof(std::uintptr_t) == 8) {
        EXPECT_EQ(FormatReportAddress(std::uintptr_t(0x7FFF12345678ull)), "7FFF12345678");
    }
    EXPECT_EQ(FormatReportMessage("line one\r\nline two"), "line one  line two.");
    EXPECT_EQ(FormatReportMessage("Done."), "Done.");
    EXPECT_EQ(FormatWindowText(std::string(300, 'x') + "\t").size(), 255u);
    EXPECT_EQ(FormatWindowText("a\tb"), "a b");
    EXPECT_EQ(FormatMemoryMb(1048576ull * 3 + 524287), "3 Mb");
    EXPECT_EQ(FormatMemoryMb(1048576ull * 3 + 524288), "4 Mb");
    EXPECT_EQ(FormatDiskGb(1073741824ull * 48), "48 Gb");
    EXPECT_EQ(FormatDiskGb(1073741824ull * 48 + 1073741824ull / 2), "48.5 Gb");
    EXPECT_EQ(FormatDiskGb(1073741824ull / 4 * 49), "12.25 Gb");
    EXPECT_EQ(FormatDiskGb(0), "0 Gb");
    EXPECT_EQ(FileNamePart("/opt/app/tool"), "tool");
    EXPECT_EQ(FileNamePart("C:\\App\\Tool.exe"), "Tool.exe");
}

}  // namespace
}  // namespace packmeter
