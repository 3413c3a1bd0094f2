#include "core/exceptlog/fault_module_options.hpp"

#include <gtest/gtest.h>

#include "core/utils/text.hpp"

namespace packmeter {
namespace {

// Options with every stored field away from its default.
void FillEveryField(TFaultModuleOptions& o) {
    o.SmtpHost = "smtp.example.org";
    o.SmtpUserId = "user";
    o.SmtpPassword = "secret";
    o.RestartOnTerminate = false;
    o.SetFreezeActive(true);
    o.FreezeTimeout = 7;
    o.FreezeMessage = "Frozen.";
    o.CustomDialogColors = false;
    o.LogFields = 0x000A0005;
    o.FilterClassNames = {"EAccessViolation", "std::bad_alloc"};
    o.FilterMessages = {"", "Out of memory."};
    for (int i = 0; i < kFaultCustomTextCount; ++i) {
        o.CustomTexts[i] = "text " + std::to_string(i);
    }
    o.LegacyFlag = false;
    o.FilterEnabled = false;
    o.SuppressOutput = true;
    o.AppendLogToBody = true;
    o.TerminateButtonEnabled = false;
    o.SaveLogFile = false;
    o.LogFileOptions = 5;
    o.DialogStartsOnGeneral = 0;
    o.MaxLoggedErrors = 9;
    o.TerminateButtonAfter = 1;
    o.OutputPath = "logs";
    o.EmailAddresses = "a@example.org;b@example.org";
    o.EmailSubject = "Crash";
    o.EmailMessage = "See below.";
    o.EmailSendMode = 2;
    o.EmailConfirmMode = 0;
}

// The option stream in the layout of an older data-block version, item by item.
std::string StreamOfVersion(const TFaultModuleOptions& o, int v) {
    ByteWriter w;
    w.Byte(o.LegacyFlag);
    w.Byte(o.FilterEnabled);
    w.Byte(o.LogFileOptions);
    w.Byte(o.SuppressOutput);
    w.Byte(o.AppendLogToBody);
    if (v > 400) {
        w.Byte(o.SaveLogFile);
        w.Byte(o.DialogStartsOnGeneral);
    }
    if (v > 402) {
        w.Byte(o.CustomDialogColors);
    }
    if (v >= 420) {
        w.Byte(o.FreezeActive());
        w.Int32(v < 422 ? o.FreezeTimeout * 1000 : o.FreezeTimeout);
        w.Text(o.FreezeMessage);
        w.Text(o.SmtpHost);
    }
    if (v > 420) {
        w.Text(o.SmtpUserId);
        w.Text(o.SmtpPassword);
        w.Byte(o.RestartOnTerminate);
    }
    w.Byte(o.TerminateButtonEnabled);
    w.Int32(o.MaxLoggedErrors);
    w.Int32(o.TerminateButtonAfter);
    w.Text(o.EmailAddresses);
    w.Text(o.EmailSubject);
    w.Byte(o.EmailSendMode);
    w.UInt32(o.LogFields);
    w.Byte(o.EmailConfirmMode);
    w.Text(o.OutputPath);
    w.Int32(static_cast<std::int32_t>(o.FilterClassNames.size()));
    for (std::size_t i = 0; i < o.FilterClassNames.size(); ++i) {
        w.Text(o.FilterClassNames[i]);
        w.Text(o.FilterMessages[i]);
    }
    w.Text(o.EmailMessage);
    for (int i = 0; i < kFaultCustomTextCount; ++i) {
        if ((i == 11 && v < 420) || (i == 10 && v <= 420)) {
            continue;
        }
        w.Text(o.CustomTexts[i]);
    }
    return w.Take();
}

std::string Saved(const TFaultModuleOptions& o) {
    ByteWriter w;
    o.SaveToStream(w);
    return w.Take();
}

TEST(FaultModuleOptions, DefaultsAreTheDeliveredConfiguration) {
    TFaultModuleOptions o("/opt/app/tool");
    EXPECT_EQ(o.ModuleFileName, "/opt/app/tool");
    EXPECT_TRUE(o.Active());
    EXPECT_FALSE(o.FreezeActive());
    EXPECT_EQ(o.FreezeTimeout, 60);
    EXPECT_EQ(o.FreezeMessage, "The application seems to be frozen.");
    EXPECT_EQ(o.LogFields, 0xFFFFFFFFu);
    EXPECT_EQ(o.MaxLoggedErrors, 32);
    EXPECT_EQ(o.TerminateButtonAfter, 3);
    EXPECT_EQ(o.EmailConfirmMode, 2);
    EXPECT_EQ(o.GetCustomText(2), "Error.");
    EXPECT_EQ(o.GetCustomText(3),
              "An error has occurred during program execution.\r\n"
              "Please read the following information for further details.");
    EXPECT_EQ(o.GetCustomText(42), "Line");
    EXPECT_EQ(o.GetCustomText(44),
              "I will now send an email with the error(s) that occurred to the author of the "
              "program.");
    EXPECT_EQ(FaultLogFieldName(0), "Application|Start Date");
    EXPECT_EQ(FaultLogFieldName(19), "Operating System|Language");
    EXPECT_EQ(FaultLogFieldName(20), "");

    // The defaults come back; the filter lists stay.
    FillEveryField(o);
    o.SetActive(false);
    o.SetDefaultValues();
    EXPECT_EQ(o.FilterClassNames.size(), 2u);
    o.FilterClassNames.clear();
    o.FilterMessages.clear();
    EXPECT_EQ(Saved(o), Saved(TFaultModuleOptions()));
    EXPECT_TRUE(o.Active());
}

TEST(FaultModuleOptions, StreamRoundTripAndStoredTexts) {
    TFaultModuleOptions written;
    FillEveryField(written);
    const std::string bytes = Saved(written);

    TFaultModuleOptions read;
    ByteReader in(bytes);
    ASSERT_TRUE(read.LoadFromStream(in, kFaultDataVersion));
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(Saved(read), bytes);
    EXPECT_EQ(read.FilterMessages[1], "Out of memory.");
    EXPECT_TRUE(read.FreezeActive());

    // Layout of the head: five flags, two more, colours, freeze flag, time-out, then the freeze
    // message as a length and its bytes XORed with the key.
    EXPECT_EQ(bytes.substr(0, 9), std::string("\0\0\x05\x01\x01\0\0\0\x01", 9));
    EXPECT_EQ(bytes.substr(9, 4), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(bytes.substr(13, 4), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[17]), 'F' ^ kFaultTextKey);

    // Only a CR LF that closes a text and is its only one is dropped.
    const struct {
        const char* message;
        const char* stored;
    } cases[] = {
        {"one line\r\n", "one line"},
        {"two\r\nlines\r\n", "two\r\nlines\r\n"},
        {"inner\r\nbreak", "inner\r\nbreak"},
        {"\r\n", ""},
    };
    for (const auto& c : cases) {
        written.FreezeMessage = c.message;
        const std::string again = Saved(written);
        ByteReader in2(again);
        TFaultModuleOptions back;
        back.LoadFromStream(in2, kFaultDataVersion);
        EXPECT_EQ(back.FreezeMessage, c.stored) << c.message;
    }
}

TEST(FaultModuleOptions, OlderStreamsLeaveTheMissingItemsAtTheirDefaults) {
    TFaultModuleOptions source;
    FillEveryField(source);
    source.FreezeTimeout = 5;
    const TFaultModuleOptions defaults;
    for (const int v : {400, 402, 403, 420, 421, 422, 423, 424}) {
        SCOPED_TRACE(v);
        TFaultModuleOptions o;
        const std::string bytes = StreamOfVersion(source, v);
        ByteReader in(bytes);
        ASSERT_TRUE(o.LoadFromStream(in, static_cast<std::uint16_t>(v)));
        EXPECT_EQ(in.Remaining(), 0u);
        // Always present.
        EXPECT_EQ(o.LogFileOptions, 5);
        EXPECT_EQ(o.OutputPath, "logs");
        EXPECT_EQ(o.FilterClassNames, source.FilterClassNames);
        EXPECT_EQ(o.CustomTexts[9], "text 9");
        EXPECT_EQ(o.CustomTexts[44], "text 44");
        // From 401, 403, 420 and 421 on.
        EXPECT_EQ(o.SaveLogFile, v > 400 ? false : true);
        EXPECT_EQ(o.CustomDialogColors, v > 402 ? false : true);
        EXPECT_EQ(o.FreezeActive(), v >= 420);
        EXPECT_EQ(o.FreezeTimeout, v >= 420 ? 5 : 60);
        EXPECT_EQ(o.SmtpHost, v >= 420 ? "smtp.example.org" : "");
        EXPECT_EQ(o.CustomTexts[11], v >= 420 ? "text 11" : defaults.CustomTexts[11]);
        EXPECT_EQ(o.SmtpPassword, v > 420 ? "secret" : "");
        EXPECT_EQ(o.RestartOnTerminate, v <= 420);
        EXPECT_EQ(o.CustomTexts[10], v > 420 ? "text 10" : defaults.CustomTexts[10]);
    }
    // Before 422 the time-out is stored in milliseconds, cut to whole seconds.
    TFaultModuleOptions o;
    std::string bytes = StreamOfVersion(source, 421);
    bytes.replace(9, 4, std::string("\xA0\x0F\0\0", 4));  // 4000 ms
    ByteReader in(bytes);
    o.LoadFromStream(in, 421);
    EXPECT_EQ(o.FreezeTimeout, 4);

    // A stream that ends early fails.
    ByteReader shortStream(std::string_view(bytes).substr(0, bytes.size() - 1));
    EXPECT_FALSE(o.LoadFromStream(shortStream, 421));
}

TEST(FaultModuleOptions, OutputFile) {
    const auto path = [](std::string text) {
        for (char& c : text) {
            c = c == '|' ? kPathSeparator : c;
        }
        return text;
    };
    const struct {
        std::string outputPath;
        std::string module;
        std::string logFile;
    } cases[] = {
        {path("|logs"), path("|app|Tool.exe"), path("|logs|Tool.flog")},
        {path("|logs|"), path("|app|Tool.exe"), path("|logs|Tool.flog")},
        {path("|x.flog"), path("|app|Tool.exe"), path("|x.flog")},
        {path("|x.FLOG"), path("|other|lib.so"), path("|x.FLOG")},
        {"", path("|app|Tool.exe"), path("|app|Tool.flog")},
        {"", path("|app|tool"), path("|app|tool.flog")},
        {"", path("|app.d|tool"), path("|app.d|tool.flog")},
        {"", "tool", "tool.flog"},
    };
    for (const auto& c : cases) {
        TFaultModuleOptions o(c.module);
        o.OutputPath = c.outputPath;
        EXPECT_EQ(o.OutputLogFile(), c.logFile) << c.outputPath << " " << c.module;
    }
    TFaultModuleOptions o;
    o.OutputPath = path("|logs");
    EXPECT_EQ(o.OutputFile(path("|app|trace.log")), path("|logs|trace.log"));
}

TEST(FaultModuleOptions, AssignCopiesAllButActiveAndModuleName) {
    TFaultModuleOptions source("/a/source");
    FillEveryField(source);
    source.SetActive(false);
    TFaultModuleOptions target("/b/target");
    EXPECT_EQ(target.Assign(&source), "");
    EXPECT_EQ(Saved(target), Saved(source));
    EXPECT_EQ(target.ModuleFileName, "/b/target");
    EXPECT_TRUE(target.Active());
    EXPECT_EQ(target.Assign(&target), "");
    EXPECT_EQ(Saved(target), Saved(source));
    EXPECT_EQ(target.Assign(nullptr), "Impossible to assign nil as TFaultModuleOptions.");
}

TEST(FaultModuleOptions, FilterEntries) {
    TFaultModuleOptions o;
    o.FilterClassNames = {"std::bad_alloc", " EAccessViolation ", "EDivByZero"};
    o.FilterMessages = {"Out of memory."};
    EXPECT_EQ(FindFilterEntry(o, {"std::bad_alloc"}), 0u);
    EXPECT_EQ(FindFilterEntry(o, {"eaccessviolation"}), 1u);
    EXPECT_EQ(FindFilterEntry(o, {"EDivByZero"}), 2u);
    EXPECT_EQ(o.FilterMessages[2], "");  // a missing message is an empty one
    EXPECT_FALSE(FindFilterEntry(o, {"std::runtime_error"}));
    o.FilterEnabled = false;
    EXPECT_FALSE(FindFilterEntry(o, {"std::bad_alloc"}));
}

TEST(FaultModuleOptionsEx, SwitchesTheWatchdogWithActiveAndFreezeActive) {
    TFaultModuleOptionsEx o;
    std::vector<bool> calls;
    o.SetActive(false);  // no switch yet
    o.SetWatchdogSwitch([&](bool run) { calls.push_back(run); });
    o.SetFreezeActive(true);  // Active is off
    o.SetActive(true);
    o.SetActive(true);  // no change, no call
    o.SetFreezeActive(false);
    EXPECT_EQ(calls, (std::vector<bool>{false, true, false}));
}

}  // namespace
}  // namespace packmeter
