#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/cli_main.hpp"
#include "cli/cli_output.hpp"
#include "core/utils/text.hpp"

namespace packmeter::cli {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kTabName = false;  // Windows does not allow control characters in names
#else
constexpr bool kTabName = true;
#endif

class CapturingTerminal : public Terminal {
  public:
    bool Out(const std::string& text) override {
        out += text;
        return true;
    }
    void Err(const std::string& text) override { err += text; }
    bool ErrIsInteractive() const override { return false; }
    std::string out;
    std::string err;
};

// A real folder with a sub-folder and two files, removed afterwards.
class CliOnRealFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() /
            ("packmeter-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "sub");
        Write(root_ / "sub" / "inner.bin", 300000);
        Write(root_ / "a.txt", 5000);
        if (kTabName) {
            Write(root_ / "tab\there", 10);
        }
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Write(const fs::path& path, std::size_t bytes) {
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    }
    int Run(std::vector<std::string> args) { return RunCli(args, terminal_); }
    std::string Root() const { return root_.string(); }

    fs::path root_;
    CapturingTerminal terminal_;
};

TEST_F(CliOnRealFolder, TsvIsTheListAsCopied) {
    ASSERT_EQ(Run({"--format", "tsv", Root()}), 0);
    const std::string& out = terminal_.out;
    EXPECT_EQ(out.rfind("Name\tSize\tCompresed\tRatio\n", 0), 0u);
    EXPECT_NE(out.find("sub\t292 KB\t292 KB\t0 %\n"), std::string::npos);
    EXPECT_NE(out.find("a.txt\t4 KB\t4 KB\t0 %\n"), std::string::npos);
    // Folders come before files.
    EXPECT_LT(out.find("sub\t"), out.find("a.txt\t"));
    EXPECT_EQ(out.find('\r'), std::string::npos);
}

TEST_F(CliOnRealFolder, JsonCarriesBytesAndTexts) {
    ASSERT_EQ(Run({"--format=json", Root()}), 0);
    const std::string& out = terminal_.out;
    const std::string total = kTabName ? "305010" : "305000";
    EXPECT_NE(out.find("\"size\": " + total + ", \"on_disk\": " + total +
                       ", \"ratio\": 0, \"size_text\": \"298 KB\""),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("\"name\": \"tab\\there\"") != std::string::npos, kTabName);
    EXPECT_NE(out.find("{\"name\": \"sub\", \"folder\": true, \"size\": 300000"),
              std::string::npos);
    EXPECT_NE(out.find("\"folder\": " +
                       JsonString(Root() + std::string(1, fs::path::preferred_separator))),
              std::string::npos);
}

TEST_F(CliOnRealFolder, TableShowsTotalsVolumeAndAlignedRows) {
    ASSERT_EQ(Run({Root()}), 0);
    const std::string& out = terminal_.out;
    EXPECT_NE(out.find("Size:        " + std::string("298 KB") + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Ratio:       0 %\n"), std::string::npos);
    EXPECT_NE(out.find("File System: "), std::string::npos);
    // The heading and every row end in the same column: sizes and ratios are right-aligned.
    const std::string table = out.substr(out.find("Name "));
    std::size_t width = std::string::npos;
    for (std::size_t at = 0; at < table.size();) {
        const std::size_t end = table.find('\n', at);
        const std::size_t length = end - at;
        if (width == std::string::npos) {
            width = length;
        }
        EXPECT_EQ(length, width) << table.substr(at, length);
        at = end + 1;
    }
    EXPECT_NE(table.find(std::string("sub") + kPathSeparator + " "), std::string::npos);
}

TEST_F(CliOnRealFolder, BadInputGetsAMessageAndANonZeroExit) {
    EXPECT_EQ(Run({Root() + "/does-not-exist"}), 2);
    EXPECT_NE(terminal_.err.find("no such folder"), std::string::npos);
    EXPECT_EQ(Run({(root_ / "a.txt").string()}), 2);
    EXPECT_EQ(Run({"--format", "xml", Root()}), 2);
    EXPECT_NE(terminal_.err.find("unknown format"), std::string::npos);
    EXPECT_EQ(Run({"--format"}), 2);
    EXPECT_EQ(Run({"--bogus"}), 2);
    EXPECT_EQ(Run({Root(), Root()}), 2);
    EXPECT_EQ(Run({"compress"}), 2);
    EXPECT_TRUE(terminal_.out.empty());
}

TEST(JsonString, EscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(JsonString("\xce\xb1"), "\"\xce\xb1\"");
}

}  // namespace
}  // namespace packmeter::cli
