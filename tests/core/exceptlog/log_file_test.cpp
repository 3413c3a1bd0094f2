#include "core/exceptlog/log_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/exceptlog/report_text.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

// A report as the logger writes it, differing by message and version.
std::string Report(const std::string& message, const std::string& version = "1.0.0.1") {
    FaultReportValues values;
    values[lfVersionNumber] = version;
    values[lfExceptionAddress] = "00401000";
    values[lfExceptionType] = "std::runtime_error";
    values[lfExceptionMessage] = message;
    return BuildReportText(values, {}, TFaultModuleOptions(), true);
}

class RecordingActions : public FaultLogActions {
  public:
    bool ActionNotify(int code) override {
        calls.push_back("notify " + std::to_string(code));
        return code != 2 || execute;
    }
    bool ActionError(int code) override {
        calls.push_back("error " + std::to_string(code));
        return retries-- > 0;
    }
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override {
        calls.push_back(FaultWarningLine(code, section, message));
    }
    bool execute = true;
    int retries = 0;
    std::vector<std::string> calls;
};

class LogFileTest : public testing::Test {
  protected:
    LogFileTest()
        : folder_(fs::temp_directory_path() /
                  ("faultlog-" +
                   std::string(testing::UnitTest::GetInstance()->current_test_info()->name()))),
          options_((folder_ / "tool.exe").string()) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    ~LogFileTest() override { fs::remove_all(folder_); }

    bool Save(const std::string& report, const std::string& version = "1.0.0.1") {
        return SaveReportToLog(report, options_, version, actions_);
    }
    std::string FileText() const {
        std::ifstream in(folder_ / "tool.flog", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Messages() const {
        TLogFile log((folder_ / "tool.flog").string());
        EXPECT_TRUE(log.Load());
        std::vector<std::string> messages;
        for (const auto& item : log.Items) {
            const auto key = ReportKey(item);
            messages.push_back(key ? key->substr(0, key->find('.') + 1) : "?");
        }
        return messages;
    }

    fs::path folder_;
    TFaultModuleOptions options_;
    RecordingActions actions_;
};

TEST_F(LogFileTest, EachReportIsFollowedByThreeEmptyLinesAndLoadsBack) {
    ASSERT_TRUE(Save(Report("one.")));
    ASSERT_TRUE(Save(Report("two %s 100%.")));
    EXPECT_EQ(FileText(),
              Report("one.") + "\r\n\r\n\r\n\r\n" + Report("two %s 100%.") + "\r\n\r\n\r\n\r\n");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"one.", "two %s 100%."}));
    EXPECT_EQ(actions_.calls,
              (std::vector<std::string>{"notify 2", "notify 3", "notify 2", "notify 3"}));

    // Hand-edited files: four empty lines between reports, LF line ends, no final empty lines.
    TLogFile log("");
    log.LoadFromText(Report("a.") + "\r\n\r\n\r\n\r\n\r\n" + Report("b.") + "\n\n\n\n" +
                     Report("c."));
    ASSERT_EQ(log.Items.size(), 3u);
    EXPECT_EQ(log.Items[0], Report("a.") + "\r\n\r\n\r\n");
    EXPECT_EQ(log.Items[1], "\r\n" + Report("b.") + "\r\n\r\n\r\n");
    EXPECT_EQ(log.Items[2], Report("c.") + "\r\n");
}

TEST_F(LogFileTest, TheOldestReportsMakeRoomUnlessEveryReportIsKept) {
    for (int i = 1; i <= 33; ++i) {
        ASSERT_TRUE(Save(Report("r" + std::to_string(i) + ".")));
    }
    auto messages = Messages();
    ASSERT_EQ(messages.size(), 32u);
    EXPECT_EQ(messages.front(), "r2.");
    EXPECT_EQ(messages.back(), "r33.");

    options_.MaxLoggedErrors = 3;  // a lowered limit trims the file at once
    ASSERT_TRUE(Save(Report("r34.")));
    EXPECT_EQ(Messages(), (std::vector<std::string>{"r32.", "r33.", "r34."}));

    options_.LogFileOptions = kLogKeepEveryReport;
    ASSERT_TRUE(Save(Report("r35.")));
    EXPECT_EQ(Messages().size(), 4u);

    // No room at all: the file is emptied and the report not written.
    options_.LogFileOptions = 0;
    options_.MaxLoggedErrors = 0;
    ASSERT_TRUE(Save(Report("r36.")));
    EXPECT_EQ(FileText(), "");

    options_.MaxLoggedErrors = 32;
    options_.SaveLogFile = false;
    ASSERT_TRUE(Save(Report("r37.")));
    EXPECT_EQ(FileText(), "");
}

TEST_F(LogFileTest, DuplicatesAndVersionChanges) {
    options_.LogFileOptions = kLogSkipDuplicates;
    ASSERT_TRUE(Save(Report("same.")));
    ASSERT_TRUE(Save(Report("same.", "2.0.0.0")));  // the key leaves out the version
    ASSERT_TRUE(Save(Report("other.")));
    EXPECT_EQ(Messages(), (std::vector<std::string>{"same.", "other."}));

    options_.LogFileOptions = kLogResetOnNewVersion;
    ASSERT_TRUE(Save(Report("v1 again.")));
    EXPECT_EQ(Messages().size(), 3u);
    ASSERT_TRUE(Save(Report("v2.", "2.0.0.0"), "2.0.0.0"));
    EXPECT_EQ(Messages(), (std::vector<std::string>{"v2."}));

    // A log item too short to compare fails the save with a warning.
    std::ofstream(folder_ / "tool.flog", std::ios::binary) << "short\r\n\r\n\r\n\r\n";
    options_.LogFileOptions = kLogSkipDuplicates;
    actions_.calls.clear();
    EXPECT_FALSE(Save(Report("x.")));
    ASSERT_EQ(actions_.calls.size(), 4u);
    EXPECT_EQ(
        actions_.calls[1].rfind("[WARNING] - Code: flLogError - Message: \"[Log] A report in", 0),
        0u);
    EXPECT_EQ(actions_.calls[2], "error 3");
}

TEST_F(LogFileTest, HooksSkipOrRetryTheSave) {
    actions_.execute = false;
    ASSERT_TRUE(Save(Report("skipped.")));
    EXPECT_FALSE(fs::exists(folder_ / "tool.flog"));
    EXPECT_EQ(actions_.calls, std::vector<std::string>{"notify 2"});

    // An unwritable file: each failure is a warning, offered for another try.
    actions_.execute = true;
    actions_.retries = 2;
    actions_.calls.clear();
    options_.OutputPath = (folder_ / "missing" / "x.flog").string();
    EXPECT_FALSE(Save(Report("lost.")));
    const std::string warning =
        "[WARNING] - Code: flLogError - Message: \"[Log] Cannot write "
        "the file \"" +
        options_.OutputPath + "\".\"";
    EXPECT_EQ(actions_.calls,
              (std::vector<std::string>{"notify 2", warning, "error 3", warning, "error 3", warning,
                                        "error 3", "notify 3"}));
}

TEST(FaultLogError, WarningAndInternalErrorLines) {
    EXPECT_EQ(FaultWarningLine(flEmailSMTPError, "SMTP", "Socket timeout."),
              "[WARNING] - Code: flEmailSMTPError - Message: \"[SMTP] Socket timeout.\"");
    EXPECT_EQ(FaultWarningLine(flShowError, "GUI", ""),
              "[WARNING] - Code: flShowError - Message: \"General 'GUI' error.\"");
    EXPECT_EQ(FaultInternalErrorLine(7, ""),
              "[ERROR] - Section: InternalExceptNotify.7 - Message: \"General internal error.\"");
    EXPECT_EQ(FaultInternalErrorLine(4, "bad"),
              "[ERROR] - Section: InternalExceptNotify.4 - Message: \"bad\"");
}

}  // namespace
}  // namespace packmeter
