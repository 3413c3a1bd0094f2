#include "core/exceptlog/options_text.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

TEST(OptionsText, SetsTheNamedFieldsOnly) {
    TFaultModuleOptions o;
    EXPECT_EQ(ApplyOptionsText("# the log beside the program, newest 5 reports\r\n"
                               "MaxLoggedErrors=5\n"
                               "LogFileOptions=4\n"
                               "LogFields=0xFFFFF\n"
                               "FreezeActive=1\n"
                               "FreezeMessage=Frozen.\\r\\nWait.\n"
                               "OutputPath=C:\\\\Logs\n"
                               "Filter=std::bad_alloc|Out of memory.\n"
                               "Filter=EAbnormalTermination\n"
                               "CustomText.2=Fault.\n"
                               "\n",
                               o),
              "");
    EXPECT_EQ(o.MaxLoggedErrors, 5);
    EXPECT_EQ(o.LogFileOptions, 4);
    EXPECT_EQ(o.LogFields, 0xFFFFFu);
    EXPECT_TRUE(o.FreezeActive());
    EXPECT_EQ(o.FreezeMessage, "Frozen.\r\nWait.");
    EXPECT_EQ(o.OutputPath, "C:\\Logs");
    EXPECT_EQ(o.FilterClassNames,
              (std::vector<std::string>{"std::bad_alloc", "EAbnormalTermination"}));
    EXPECT_EQ(o.FilterMessages, (std::vector<std::string>{"Out of memory.", ""}));
    EXPECT_EQ(o.GetCustomText(2), "Fault.");
    EXPECT_EQ(o.GetCustomText(3).substr(0, 8), "An error");
    EXPECT_EQ(o.TerminateButtonAfter, 3);

    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"Colour=red", "line 1: unknown name \"Colour\""},
        {"\nMaxLoggedErrors", "line 2: no \"=\""},
        {"SaveLogFile=yes", "line 1: bad value \"yes\" for SaveLogFile"},
        {"EmailSendMode=3", "line 1: bad value \"3\" for EmailSendMode"},
        {"CustomText.45=x", "line 1: no text \"CustomText.45\""},
    };
    for (const auto& c : bad) {
        TFaultModuleOptions fresh;
        EXPECT_EQ(ApplyOptionsText(c.text, fresh), c.error);
    }
}

}  // namespace
}  // namespace packmeter
